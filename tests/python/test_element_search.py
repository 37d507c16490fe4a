"""Point location: the C++ answers, the 1e-6 edge, shared faces, NaN points, shapes, bad input,
rebuilds and threads."""

import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import orvex
from conftest import KINDS, unit_simplex

EPSILON = 1e-6


@pytest.mark.parametrize("kind", KINDS)
def test_batch_and_single_answers_equal_the_cpp_single_queries(kind, cpp_answers, cpp_mesh):
    search = orvex.ElementSearch(cpp_mesh(kind))
    queries, expected = cpp_answers(kind, "queries"), cpp_answers(kind, "answers")
    assert np.count_nonzero(expected == -1) > 0 and np.count_nonzero(expected >= 0) > 0
    found = search.locate(queries)
    assert found.dtype == np.int64 and found.shape == expected.shape
    np.testing.assert_array_equal(found, expected)
    # Any leading shape, any layout, other real dtypes: the same answers.
    np.testing.assert_array_equal(search.locate(queries[:300].reshape(3, 100, -1)),
                                  expected[:300].reshape(3, 100))
    np.testing.assert_array_equal(search.locate(np.asfortranarray(queries)), expected)
    as_float32 = queries.astype(np.float32)
    np.testing.assert_array_equal(search.locate(as_float32), search.locate(as_float32 + 0.0))
    for point, answer in zip(queries[::97], expected[::97]):
        assert search.locate(point) == (None if answer < 0 else answer)


@pytest.mark.parametrize("dimension", [1, 2, 3])
def test_exactly_the_tolerance_is_inside_and_the_next_double_is_not(dimension):
    # The unit simplex's facet on the plane x0 = 0: points at -1e-6 from it in x0.
    search = orvex.ElementSearch(unit_simplex(dimension))
    at = np.full(dimension, 0.2 / dimension)
    at[0] = -EPSILON
    beyond = at.copy()
    beyond[0] = np.nextafter(-EPSILON, -1.0)
    assert search.locate(at) == 0
    assert search.locate(beyond) is None
    np.testing.assert_array_equal(search.locate(np.array([at, beyond])), [0, -1])


def test_points_on_shared_faces_name_an_element_that_holds_them(cpp_mesh):
    mesh = cpp_mesh("solid")
    tetrahedra = mesh.elements[:-2]  # leave out the two extra elements the helper appended
    local_facets = np.array([[1, 2, 3], [0, 2, 3], [0, 1, 3], [0, 1, 2]])
    facets = np.sort(tetrahedra[:, local_facets].reshape(-1, 3), axis=1)
    unique, counts = np.unique(facets, axis=0, return_counts=True)
    shared = unique[counts == 2]
    assert len(shared) > 100
    search = orvex.ElementSearch(orvex.Solid(mesh.points, tetrahedra))
    # On each shared facet: its centroid (in the facet's two tetrahedra only), and the midpoint
    # of one of its edges (in every tetrahedron around that edge).
    points = np.concatenate([mesh.points[shared].mean(axis=1),
                             mesh.points[shared[:, :2]].mean(axis=1)])
    holders = list(shared) + list(shared[:, :2])
    found = search.locate(points)
    assert np.all(found >= 0)
    for element, face in zip(found, holders):
        assert set(face) <= set(tetrahedra[element])
    # The tie goes the same way one point at a time.
    for point, element in zip(points[::37], found[::37]):
        assert search.locate(point) == element


def test_nan_and_infinite_points_are_in_no_element():
    search = orvex.ElementSearch(unit_simplex(3))
    nan, inf = np.nan, np.inf
    points = np.array([[nan, 0.1, 0.1], [0.1, nan, 0.1], [nan, nan, nan], [inf, 0, 0],
                       [0.1, 0.1, 0.1]])
    np.testing.assert_array_equal(search.locate(points), [-1, -1, -1, -1, 0])
    assert search.locate([0.1, 0.1, nan]) is None


def test_shapes_and_empty_inputs():
    search = orvex.ElementSearch(unit_simplex(2))
    assert search.dimension == 2 and search.n_elements == 1
    empty = search.locate(np.zeros((0, 2)))
    assert empty.shape == (0,) and empty.dtype == np.int64
    assert search.locate(np.zeros((2, 0, 2))).shape == (2, 0)
    assert search.locate([0, 0]) == 0  # integers are converted
    nothing = orvex.ElementSearch(orvex.Surface(np.zeros((0, 2)), np.zeros((0, 3), np.int32)))
    assert nothing.locate([0.0, 0.0]) is None
    np.testing.assert_array_equal(nothing.locate(np.zeros((3, 2))), [-1, -1, -1])


@pytest.mark.parametrize(
    "points, fragment",
    [
        (np.zeros((4, 2)), "got shape (4, 2)"),
        (np.zeros(3)[0], "got shape ()"),
        (np.zeros((4, 3), dtype=np.complex128), "dtype complex128"),
        (np.zeros((4, 3), dtype=bool), "dtype bool"),
        ([[0.1, 0.1, 0.1], [0.2]], "cannot read"),
    ],
)
def test_bad_points_raise_value_error_naming_the_shapes(points, fragment):
    with pytest.raises(ValueError) as raised:
        orvex.ElementSearch(unit_simplex(3)).locate(points)
    assert "shape (..., 3)" in str(raised.value) and fragment in str(raised.value)


def test_workers_must_be_positive_or_minus_one():
    search = orvex.ElementSearch(unit_simplex(3))
    for workers in (0, -2):
        with pytest.raises(ValueError, match="locate: workers must be"):
            search.locate(np.zeros((5, 3)), workers=workers)


def test_rebuild_takes_a_new_snapshot_of_the_same_kind_only():
    mesh = unit_simplex(3)
    search = orvex.ElementSearch(mesh)
    with pytest.raises(TypeError, match="built from a Solid.*got Surface"):
        search.rebuild(unit_simplex(2))
    with pytest.raises(TypeError):
        orvex.ElementSearch(np.zeros((4, 3)))
    assert search.locate([0.1, 0.1, 0.1]) == 0  # the refused rebuild changed nothing
    search.rebuild(orvex.Solid(mesh.points + 10, mesh.elements))
    assert search.locate([0.1, 0.1, 0.1]) is None
    assert search.locate([10.1, 10.1, 10.1]) == 0


def test_two_threads_on_halves_of_one_array_beside_rebuilds(cpp_mesh):
    mesh = cpp_mesh("solid")
    search = orvex.ElementSearch(mesh)
    points = np.random.default_rng(7).uniform(-0.1, 1.1, size=(40000, 3))
    expected = search.locate(points)
    halves = (points[:20000], points[20000:])
    stop = threading.Event()

    def rebuild_until_stopped():  # the same mesh: answers must not change
        while not stop.is_set():
            search.rebuild(mesh)

    rebuilder = threading.Thread(target=rebuild_until_stopped)
    rebuilder.start()
    try:
        with ThreadPoolExecutor(max_workers=2) as pool:
            for _ in range(3):
                found = list(pool.map(search.locate, halves))
                np.testing.assert_array_equal(np.concatenate(found), expected)
        # The module's own threads (two parts of 20000 points).
        np.testing.assert_array_equal(search.locate(points, workers=3), expected)
    finally:
        stop.set()
        rebuilder.join()


def split_at_centroid(mesh, element):
    """`mesh` with `element` split at its centroid: the element keeps its index with its first
    vertex replaced, the others are appended; returns the mesh and the change arrays."""
    points, elements = mesh.points, mesh.elements.astype(np.int64)
    centroid = len(points)
    corners = elements[element].copy()
    pieces = [corners.copy() for _ in corners]
    for j, piece in enumerate(pieces):
        piece[j] = centroid  # an interior point keeps every piece's orientation
    elements[element] = pieces[0]
    split = type(mesh)(
        np.vstack([points, points[corners].mean(axis=0)]), np.vstack([elements, pieces[1:]])
    )
    return split, {"modified_elements": [element],
                   "created_elements": np.arange(len(elements), len(split.elements))}


@pytest.mark.parametrize("kind", KINDS)
def test_update_gives_the_answers_of_a_new_build(kind, cpp_mesh):
    mesh = cpp_mesh(kind)
    search = orvex.ElementSearch(mesh)
    rng = np.random.default_rng(11)
    queries = rng.uniform(-0.1, 1.1, size=(5000, search.dimension))
    for element in rng.choice(len(mesh.elements), size=5, replace=False):
        mesh, changes = split_at_centroid(mesh, int(element))
        search.update(mesh, **changes)
    # A deletion with compaction (the last element) and a moved vertex, in one change set.
    n = len(mesh.elements)
    points = mesh.points.copy()
    points[int(mesh.elements[0][0])] += 0.01
    mesh = type(mesh)(points, mesh.elements[:-1])
    search.update(mesh, element_renumbering=np.r_[np.arange(n - 1), -1].astype(np.int32),
                  moved_vertices=[mesh.elements[0][0]])
    assert search.n_elements == n - 1
    np.testing.assert_array_equal(search.locate(queries), orvex.ElementSearch(mesh).locate(queries))

    before = search.locate(queries)
    with pytest.raises(ValueError, match="element_renumbering must be"):
        search.update(mesh, element_renumbering=np.zeros((2, 2), dtype=np.int64))
    with pytest.raises(IndexError, match=r"created_elements\[1\] is -1"):
        search.update(mesh, created_elements=[n - 1, -1])
    with pytest.raises(ValueError, match="update_elements_tree"):
        search.update(mesh, created_elements=[n + 5])  # not the indices after the kept ones
    with pytest.raises(TypeError, match="got"):
        search.update(unit_simplex(1 + (search.dimension % 3)))
    np.testing.assert_array_equal(search.locate(queries), before)
