#pragma once

// What the example programs and the demo share, so that each program shows only its own
// capability: the skeleton of `main` (arguments checked, the library initialised, errors
// reported), strict number parsing, and the mesh file read with its notes.
//
// Exit statuses, for every program: 0 on success; 1 when a file cannot be used or a check
// fails, with an "error: ..." line on standard error; 2 on bad arguments, with an "error: ..."
// line and the usage line.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "medit_mesh.h"
#include "mesh_readers.h"
#include "orvex/background_common/background_common_library.h"

namespace orvex::examples {

/// Bad command-line arguments: the program prints the message and its usage line, and exits 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The whole of `text` read as a finite number (`std::from_chars`, a leading '+' allowed), or
/// nothing: "abc", "1.5x", "", "nan" and "1e999" are not numbers.
[[nodiscard]] inline std::optional<double> to_number(std::string_view text) {
    if (text.size() > 1 && text[0] == '+') {
        text.remove_prefix(1);
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

/// A number argument named `name` in the usage line ("X0").
/// \throw UsageError when `text` is not a finite number.
[[nodiscard]] inline double number_argument(const std::string& text, const char* name) {
    const std::optional<double> value = to_number(text);
    if (!value) {
        throw UsageError{std::string{name} + " is '" + text + "', not a finite number"};
    }
    return *value;
}

/// Reads a mesh file (`read_mesh`) and prints what the reader left out on standard error, one
/// "note: <path>: <sentence>" line each.
[[nodiscard]] inline MeshFile read_mesh_with_notes(const std::string& path) {
    MeshFile file = read_mesh(path);
    for (const std::string& note : file.notes) {
        std::fprintf(stderr, "note: %s: %s\n", path.c_str(), note.c_str());
    }
    return file;
}

/// Runs `body()` as a program's `main` does: initialises the library, returns what `body`
/// returns, and turns an exception into its message and exit status (`UsageError`: 2 with the
/// usage line "usage: <program> <usage>"; a malformed mesh file and any other failure: 1).
template <typename Body>
int run_guarded(const char* program, const char* usage, Body&& body) {
    try {
        BackgroundCommonLibrary::initialize();
        return body();
    } catch (const UsageError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "error: %s\nusage: %s %s\n", error.what(), program, usage);
        return 2;
    } catch (const MeshFileError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "error: %s%s\n",
                     error.whole_file() ? "" : "malformed mesh file: ", error.what());
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "error: %s\n", error.what());
    }
    return 1;
}

/// `run_guarded` for a program of fixed arguments, one per word of `usage` ("MESH_FILE X0"):
/// `body(arguments)` gets them as strings.
template <typename Body>
int run_example(int argc, char** argv, const char* usage, Body&& body) {
    std::size_t expected = 0;
    for (const char* c = usage; *c != '\0'; ++c) {
        expected += *c != ' ' && (c == usage || c[-1] == ' ') ? 1 : 0;
    }
    const char* program = argc > 0 ? argv[0] : "example";
    return run_guarded(program, usage, [&] {
        const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
        if (arguments.size() != expected) {
            throw UsageError{"expected " + std::to_string(expected) + " argument(s), got "
                             + std::to_string(arguments.size())};
        }
        return body(arguments);
    });
}

}  // namespace orvex::examples
