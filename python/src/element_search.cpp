#include "element_search.h"

#include <absl/types/span.h>
#include <pybind11/numpy.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "arrays.h"
#include "meshes.h"
#include "orvex/background_common/element_search/element_search.h"
#include "polvane/basic/index.h"
#include "polvane/basic/polvane_exception.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/mesh_changes.h"
#include "polvane/mesh/mesh_traits.h"
#include "workers.h"

namespace orvex::python {
namespace {

// The search of one mesh kind, with the lock that lets many threads query at once while a
// rebuild waits for them (the C++ search allows concurrent queries, and needs exclusive
// access to rebuild). Every member runs with the GIL released, so that a thread holding the
// lock never waits for the GIL. The operations that change the snapshot (`rebuild`, `update`)
// take the lock exclusively.
template <typename Mesh>
class KindSearch {
public:
    using MeshType = Mesh;
    static constexpr index_t dimension = MeshTraits<Mesh>::dimension;

    explicit KindSearch(const Mesh& mesh) { rebuild(mesh); }

    void rebuild(const Mesh& mesh) {
        const std::unique_lock lock{mutex_};
        search_.reinitialize_elements_tree(mesh);
        nb_elements_ = MeshTraits<Mesh>::nb_elements(mesh);
    }

    // A refused change set leaves the search as it was (the C++ update's guarantee).
    void update(const Mesh& mesh, const MeshChanges& changes) {
        const std::unique_lock lock{mutex_};
        search_.update_elements_tree(mesh, changes);
        nb_elements_ = MeshTraits<Mesh>::nb_elements(mesh);
    }

    [[nodiscard]] index_t nb_elements() const {
        const std::shared_lock lock{mutex_};
        return nb_elements_;
    }

    [[nodiscard]] std::optional<index_t> locate(const Point<dimension>& point) const {
        const std::shared_lock lock{mutex_};
        return search_.initial_containing_element(point);
    }

    [[nodiscard]] std::vector<std::optional<index_t>> locate(
        absl::Span<const Point<dimension>> points) const {
        const std::shared_lock lock{mutex_};
        return search_.initial_containing_elements(points);
    }

private:
    mutable std::shared_mutex mutex_;
    internal::ElementSearch<Mesh> search_;
    index_t nb_elements_{0};
};

// An answer as Python sees it: -1 for "no element" (an empty optional, or the `NO_ID` of a
// mesh without elements).
std::int64_t as_index(const std::optional<index_t>& answer) {
    return answer && *answer != NO_ID ? static_cast<std::int64_t>(*answer) : -1;
}

// `search.locate` of the points in `object`; `seconds`, when given, receives the time that the
// C++ batch query alone took (in the first part).
template <typename Mesh>
py::object locate(const KindSearch<Mesh>& search, const py::object& object, int workers,
                  double* seconds) {
    constexpr index_t dimension = MeshTraits<Mesh>::dimension;
    const std::string expected =
        "a real (float, int) array of shape (..., " + std::to_string(dimension) + ")";
    const py::array points = as_array(object, "points", expected);
    const char kind = points.dtype().kind();
    if ((kind != 'f' && kind != 'i' && kind != 'u') || points.ndim() < 1
        || points.shape(points.ndim() - 1) != dimension) {
        throw_bad_array(points, "points", expected);
    }
    // float64 in C order is read in place; anything else is converted once.
    const auto values =
        py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(points);
    if (!values) {
        throw_bad_array(points, "points", expected);
    }
    const auto count = static_cast<std::size_t>(values.size()) / dimension;
    check_count(count, "points");
    const std::size_t threads = thread_count(workers, count, "locate");
    const double* data = values.data();
    const auto read = [data](std::size_t i) {
        std::array<double, dimension> coordinates{};
        for (index_t axis = 0; axis < dimension; ++axis) {
            coordinates[axis] = data[i * dimension + axis];
        }
        return Point<dimension>{coordinates};
    };

    if (points.ndim() == 1) {
        std::optional<index_t> answer;
        {
            const py::gil_scoped_release release;
            answer = search.locate(read(0));
        }
        const std::int64_t index = as_index(answer);
        return index < 0 ? py::object{py::none()} : py::object{py::int_(index)};
    }
    std::vector<py::ssize_t> shape(points.shape(), points.shape() + points.ndim() - 1);
    py::array_t<std::int64_t> result(shape);
    std::int64_t* out = result.mutable_data();
    // Each part copies its points into C++, runs the batch query on them and writes its answers.
    const auto run = [&](std::size_t part) {
        const std::size_t first = part_begin(count, part, threads);
        const std::size_t end = part_begin(count, part + 1, threads);
        std::vector<Point<dimension>> copy;
        copy.reserve(end - first);
        for (std::size_t i = first; i < end; ++i) {
            copy.push_back(read(i));
        }
        const auto start = std::chrono::steady_clock::now();
        const auto answers = search.locate(copy);
        if (seconds != nullptr && part == 0) {
            *seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        for (std::size_t i = first; i < end; ++i) {
            out[i] = as_index(answers[i - first]);
        }
    };
    {
        const py::gil_scoped_release release;
        run_parts(threads, run);
    }
    return std::move(result);
}

// The indices of one field of a change set: None or an int32/int64 array of shape (n,). In a
// renumbering, -1 stands for "deleted" (the C++ `NO_ID`).
std::vector<index_t> change_indices(const py::object& object, const char* what, bool renumbering) {
    std::vector<index_t> indices;
    if (object.is_none()) {
        return indices;
    }
    const std::string expected = "None or an int32 or int64 array of shape (n,)";
    const py::array array = as_array(object, what, expected);
    if (array.ndim() != 1 || (!is_index_array(array) && array.size() != 0)) {
        throw_bad_array(array, what, expected);
    }
    const auto values = py::array_t<std::int64_t, py::array::forcecast>::ensure(array);
    const auto read = values.unchecked<1>();
    check_count(static_cast<std::size_t>(read.shape(0)), what);
    indices.reserve(static_cast<std::size_t>(read.shape(0)));
    const std::int64_t lowest = renumbering ? -1 : 0;
    for (py::ssize_t i = 0; i < read.shape(0); ++i) {
        const std::int64_t value = read(i);
        if (value < lowest || value >= static_cast<std::int64_t>(max_count)) {
            throw py::index_error(std::string{"update: "} + what + "[" + std::to_string(i) + "] is "
                                  + std::to_string(value) + ", outside [" + std::to_string(lowest)
                                  + ", " + std::to_string(max_count) + ")");
        }
        indices.push_back(value < 0 ? NO_ID : static_cast<index_t>(value));
    }
    return indices;
}

// `mesh` as the kind `Mesh` of a search, for `operation` (TypeError naming both otherwise).
template <typename Mesh>
const Mesh& same_kind(const py::object& mesh, const char* operation) {
    if (!py::isinstance<Mesh>(mesh)) {
        throw py::type_error(std::string{operation} + ": this search was built from a "
                             + class_name<Mesh> + " and " + operation + "s from a "
                             + class_name<Mesh> + " only; got "
                             + std::string{py::str(py::type::of(mesh).attr("__name__"))});
    }
    return mesh.cast<const Mesh&>();
}

using AnyKindSearch = std::variant<std::unique_ptr<KindSearch<EdgedCurve<1>>>,
                                   std::unique_ptr<KindSearch<TriangulatedSurface<2>>>,
                                   std::unique_ptr<KindSearch<TetrahedralSolid<3>>>>;

// The Python object: a search of the mesh kind it was built from.
class Search {
public:
    template <typename Mesh>
    explicit Search(const Mesh& mesh) {
        const py::gil_scoped_release release;
        kind_ = std::make_unique<KindSearch<Mesh>>(mesh);
    }

    [[nodiscard]] index_t dimension() const {
        return std::visit([](const auto& search) { return search->dimension; }, kind_);
    }

    [[nodiscard]] index_t nb_elements() const {
        const py::gil_scoped_release release;
        return std::visit([](const auto& search) { return search->nb_elements(); }, kind_);
    }

    void rebuild(const py::object& mesh) {
        std::visit(
            [&mesh](const auto& search) {
                using Mesh = typename std::decay_t<decltype(*search)>::MeshType;
                const Mesh& typed = same_kind<Mesh>(mesh, "rebuild");
                const py::gil_scoped_release release;
                search->rebuild(typed);
            },
            kind_);
    }

    void update(const py::object& mesh, const MeshChanges& changes) {
        std::visit(
            [&](const auto& search) {
                using Mesh = typename std::decay_t<decltype(*search)>::MeshType;
                const Mesh& typed = same_kind<Mesh>(mesh, "update");
                try {
                    const py::gil_scoped_release release;
                    search->update(typed, changes);
                } catch (const PolvaneException& refused) {
                    throw py::value_error(refused.what());
                }
            },
            kind_);
    }

    [[nodiscard]] py::object locate(const py::object& points, int workers, double* seconds) const {
        return std::visit(
            [&](const auto& search) { return python::locate(*search, points, workers, seconds); },
            kind_);
    }

private:
    AnyKindSearch kind_;
};

constexpr const char* class_doc = R"(Finds the element of a mesh that contains each point.

ElementSearch(mesh): a search over a Curve, a Surface or a Solid, built once (a private copy
of the mesh's points and elements and a bounding-box tree over it, in time linear in the
number of elements, with the GIL released). It works on that snapshot: the mesh may be
dropped afterwards, and answers name elements of the mesh as it was at the last build or
rebuild.

Tolerance: a point is located in an element when their distance is at most 1e-6, absolute,
in the mesh's units of length (bound included: exactly 1e-6 is found, the next double beyond
is not). The nearest element within the tolerance is answered. Tie rule: when several
elements are at the same smallest distance (a point on a face, edge or vertex that several
elements share, distance 0 to each), one of them is answered, chosen by the tree's own order:
the same one for a single point as in a batch and from run to run for a given mesh, but not
the lowest index in general.

Threads: locate runs with the GIL released and takes a shared lock, so threads locating
points (for instance slices of one array) run in parallel; rebuild takes the lock exclusively
and waits for the queries under way; so does update.)";

constexpr const char* locate_doc = R"(locate(points, workers=1) -> numpy.ndarray | int | None

The element within 1e-6 of each point (see the class for the tolerance and the tie rule).

points: an array-like of shape (..., D), D the mesh's dimension (a Curve takes shape
    (..., 1)). float64 is read as is; other real dtypes (float32, integers) are converted to
    float64 first. The points are copied once into C++.
workers: the threads to share an array among, each running the batch query on one contiguous
    part (as in scipy: -1 for every core the process may run on); at most one per 16384
    points. The answers do not depend on it.
Returns an int64 array of shape points.shape[:-1]: the element index, or -1 where no element
    lies within 1e-6, where the point has a NaN or infinite coordinate, and on a mesh without
    elements. A single point (shape (D,)) gives an int, or None for no element.

Arrays go through the library's batch query, in C++ with the GIL released: threads calling
locate on parts of one array run in parallel too.
Raises ValueError on another shape or dtype (the message names the expected and the actual
shape), or when workers is 0 or below -1.)";

constexpr const char* rebuild_doc = R"(rebuild(mesh) -> None

Takes a new snapshot of `mesh`, of the same kind as the one the search was built from
(TypeError otherwise), and builds a new tree, with the GIL released. The new snapshot is
complete before the previous one is released: if building fails, the search keeps answering
from its previous snapshot.)";

constexpr const char* update_doc =
    R"(update(mesh, *, element_renumbering=None, vertex_renumbering=None, created_elements=None, modified_elements=None, moved_vertices=None) -> None

Brings the snapshot to `mesh` (the mesh after the changes, of the search's kind) when the
caller says what changed since the snapshot, reading only the changed elements and points: the
tree is refitted, and new elements are placed, in place. It gives the answers a new build of
`mesh` would give. Building `mesh` from arrays still copies them once; the update saves the
search's own copy and tree, which is most of a build.

Every argument is None (nothing of that kind changed) or an int32 or int64 array of shape (n,):
element_renumbering, vertex_renumbering: one entry per element (vertex) of the snapshot, its
    index in `mesh` or -1 where it was deleted (a deletion with compaction); the kept ones
    take exactly the first indices of `mesh`.
created_elements: the new elements, exactly the indices after the kept ones (new vertices need
    no list).
modified_elements: the kept elements whose vertices changed (for a split, the element that
    kept its index).
moved_vertices: the kept vertices whose coordinates changed; the elements that use them need
    not be listed.
Indices after a renumbering are in `mesh`'s numbering and may repeat. A change of more than a
quarter of the elements takes a new snapshot instead, as rebuild does.

Raises TypeError for a mesh of another kind, ValueError for an array of another shape or dtype
or for changes that cannot describe `mesh` from the snapshot (the message says which), and
IndexError for a negative index (below -1 in a renumbering). Nothing changes then: the search
keeps answering from its previous snapshot.)";

}  // namespace

void register_element_search(py::module_& module) {
    py::class_<Search>(module, "ElementSearch", class_doc)
        .def(py::init<const EdgedCurve<1>&>(), py::arg("mesh"))
        .def(py::init<const TriangulatedSurface<2>&>(), py::arg("mesh"))
        .def(py::init<const TetrahedralSolid<3>&>(), py::arg("mesh"))
        .def(
            "locate",
            [](const Search& search, const py::object& points, int workers) {
                return search.locate(points, workers, nullptr);
            },
            py::arg("points"), py::arg("workers") = 1, locate_doc)
        .def(
            "_locate_timed",
            [](const Search& search, const py::object& points) {
                double seconds = 0;
                py::object answers = search.locate(points, 1, &seconds);
                return py::make_tuple(answers, seconds);
            },
            py::arg("points"),
            "For the benchmark: locate(points) on an array, and the seconds that the C++ batch "
            "query alone took inside it.")
        .def("rebuild", &Search::rebuild, py::arg("mesh"), rebuild_doc)
        .def(
            "update",
            [](Search& search, const py::object& mesh, const py::object& element_renumbering,
               const py::object& vertex_renumbering, const py::object& created_elements,
               const py::object& modified_elements, const py::object& moved_vertices) {
                MeshChanges changes;
                changes.element_renumbering =
                    change_indices(element_renumbering, "element_renumbering", true);
                changes.vertex_renumbering =
                    change_indices(vertex_renumbering, "vertex_renumbering", true);
                changes.created_elements =
                    change_indices(created_elements, "created_elements", false);
                changes.modified_elements =
                    change_indices(modified_elements, "modified_elements", false);
                changes.moved_vertices = change_indices(moved_vertices, "moved_vertices", false);
                search.update(mesh, changes);
            },
            py::arg("mesh"), py::kw_only(), py::arg("element_renumbering") = py::none(),
            py::arg("vertex_renumbering") = py::none(), py::arg("created_elements") = py::none(),
            py::arg("modified_elements") = py::none(), py::arg("moved_vertices") = py::none(),
            update_doc)
        .def_property_readonly("dimension", &Search::dimension,
                               "The dimension D of the mesh kind: points have shape (..., D).")
        .def_property_readonly("n_elements", &Search::nb_elements,
                               "The number of elements in the snapshot.")
        .def("__repr__", [](const Search& search) {
            return "ElementSearch(dimension " + std::to_string(search.dimension()) + ", "
                   + std::to_string(search.nb_elements()) + " elements)";
        });
}

}  // namespace orvex::python
