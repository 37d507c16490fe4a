// The entry point of the readers: the format of a file, its bytes, and the reader it goes to.
// Each format's reader has a file of its own (medit_mesh.cpp, gmsh_reader.cpp, vtk_reader.cpp,
// tetgen_reader.cpp).

#include "mesh_readers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "reader_text.h"

namespace orvex::examples {
namespace {

using detail::concat;
using detail::is_space;

std::string lower_case(std::string_view text) {
    std::string lower;
    for (const char c : text) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

// What a file type is called in a message.
const char* file_type_name(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a directory";
    }
    if (S_ISFIFO(mode)) {
        return "a pipe";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a regular file";
}

// Closes a descriptor at the end of a scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_{fd} {}

    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    [[nodiscard]] int get() const { return fd_; }

private:
    int fd_;
};

// The extension of the other file of a TetGen pair (".ele" for a ".node", and the other way),
// in the case of `extension`: all upper case, capitalised, or lower case.
std::string partner_extension(std::string_view extension, bool is_node) {
    std::string out = is_node ? ".ele" : ".node";
    const auto upper = [](char c) { return std::isupper(static_cast<unsigned char>(c)) != 0; };
    const std::string_view letters = extension.substr(1);
    for (std::size_t k = 1; k < out.size(); ++k) {
        if (std::all_of(letters.begin(), letters.end(), upper)
            || (k == 1 && !letters.empty() && upper(letters.front()))) {
            out[k] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[k])));
        }
    }
    return out;
}

// The other file of a TetGen pair: the same stem with the partner extension in the case of the
// given one ("mesh.Node" pairs with "mesh.Ele"), else the file of the directory named by the
// stem and the partner extension in any case, else the lower-case name (whose opening then
// fails, naming it).
std::string tetgen_partner(const std::string& path, std::size_t dot, bool is_node) {
    const std::string stem = path.substr(0, dot);
    const std::string extension = is_node ? ".ele" : ".node";
    const std::string preferred =
        stem + partner_extension(std::string_view{path}.substr(dot), is_node);
    std::error_code error;
    if (std::filesystem::is_regular_file(preferred, error)) {
        return preferred;
    }
    const std::filesystem::path stem_path{stem};
    const std::string stem_name = stem_path.filename().string();
    std::filesystem::path found;
    for (std::filesystem::directory_iterator
             it{stem_path.parent_path().empty() ? std::filesystem::path{"."}
                                                : stem_path.parent_path(),
                error},
         end;
         !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() == stem_name.size() + extension.size()
            && name.compare(0, stem_name.size(), stem_name) == 0
            && lower_case(std::string_view{name}.substr(stem_name.size())) == extension
            && (found.empty() || name < found.filename().string())) {
            found = stem_path.parent_path() / name;
        }
    }
    return found.empty() ? stem + extension : found.string();
}

}  // namespace

std::string read_file_bytes(const std::string& path) {
    // Opened without blocking, so that a pipe without a writer is refused rather than waited on.
    const Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (file.get() < 0) {
        throw std::runtime_error{concat("cannot open ", path, ": ", std::strerror(errno))};
    }

    struct stat status {};

    if (::fstat(file.get(), &status) != 0) {
        throw std::runtime_error{concat("cannot read ", path, ": ", std::strerror(errno))};
    }
    if (!S_ISREG(status.st_mode)) {
        throw MeshFileError::about_file(
            path, concat("is ", file_type_name(status.st_mode),
                         ", not a regular file: only regular files are read"));
    }
    std::string bytes;
    if (status.st_size > 0) {
        bytes.reserve(static_cast<std::size_t>(status.st_size));
    }
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw std::runtime_error{concat("cannot read ", path, ": ", std::strerror(errno))};
        }
        if (got == 0) {
            return bytes;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

MeshFormat mesh_format(const std::string& path, std::string_view head) {
    std::size_t start = 0;
    while (start < head.size() && is_space(head[start])) {
        ++start;
    }
    const std::string_view text = head.substr(start);
    if (text.substr(0, 11) == "$MeshFormat") {
        return MeshFormat::gmsh;
    }
    if (text.substr(0, 14) == "# vtk DataFile") {
        return MeshFormat::vtk;
    }
    if (text.substr(0, 20) == "MeshVersionFormatted" || text.substr(0, 9) == "Dimension") {
        return MeshFormat::medit;
    }
    const std::size_t dot = path.find_last_of('.');
    const std::string extension =
        dot == std::string::npos ? std::string{} : lower_case(std::string_view{path}.substr(dot));
    if (extension == ".msh") {
        return MeshFormat::gmsh;
    }
    if (extension == ".vtk") {
        return MeshFormat::vtk;
    }
    if (extension == ".node" || extension == ".ele") {
        return MeshFormat::tetgen;
    }
    if (extension == ".mesh") {
        return MeshFormat::medit;
    }
    throw MeshFileError{path, 1,
                        "unknown mesh format: neither the content nor the extension names Medit "
                        "(.mesh), Gmsh (.msh), legacy VTK (.vtk) or TetGen (.node and .ele)"};
}

MeshFile read_mesh(const std::string& path) {
    const std::string bytes = read_file_bytes(path);
    switch (mesh_format(path, std::string_view{bytes}.substr(0, 64))) {
        case MeshFormat::gmsh:
            return parse_gmsh(bytes, path);
        case MeshFormat::vtk:
            return parse_vtk(bytes, path);
        case MeshFormat::tetgen: {
            const std::size_t dot = path.find_last_of('.');
            const bool is_node = lower_case(std::string_view{path}.substr(dot)) == ".node";
            const std::string other_path = tetgen_partner(path, dot, is_node);
            const std::string other = read_file_bytes(other_path);
            return is_node ? parse_tetgen(bytes, other, path, other_path)
                           : parse_tetgen(other, bytes, other_path, path);
        }
        case MeshFormat::medit:
            break;
    }
    return parse_medit(bytes, path);
}

}  // namespace orvex::examples
