"""Meshes from numpy arrays and from meshio: one copy, and Python's usual errors on bad input."""

import meshio
import numpy as np
import pytest

import orvex

SOLID_POINTS = np.array([[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1], [1, 1, 1]], dtype=float)
SOLID_ELEMENTS = [[0, 1, 2, 3], [1, 2, 3, 4]]


@pytest.mark.parametrize("index_dtype", [np.int32, np.int64])
@pytest.mark.parametrize(
    "kind, points, elements",
    [
        (orvex.Curve, [[0.0], [0.5], [2.0]], [[0, 1], [1, 2]]),
        (orvex.Surface, [[0.0, 0], [1, 0], [0, 1], [1, 1]], [[0, 1, 2], [1, 3, 2]]),
        (orvex.Solid, SOLID_POINTS, SOLID_ELEMENTS),
    ],
)
def test_arrays_are_copied_once_whatever_their_layout(kind, points, elements, index_dtype):
    # Points and elements read through strides (every other row of a larger array).
    points = np.repeat(np.asarray(points, dtype=np.float64), 2, axis=0)[::2]
    elements = np.asarray(elements, dtype=index_dtype)
    mesh = kind(points, elements)
    assert (mesh.n_points, mesh.n_elements) == (len(points), len(elements))
    assert mesh.dimension == points.shape[1]
    expected_points, expected_elements = points.copy(), elements.astype(np.int64)
    points[:] = 7.0
    elements[:] = 0
    np.testing.assert_array_equal(mesh.points, expected_points)
    np.testing.assert_array_equal(mesh.elements, expected_elements)
    assert mesh.elements.dtype == np.int64


BAD_INPUTS = [
    # (points, elements, error, fragments of the message)
    (np.zeros((5, 2)), SOLID_ELEMENTS, ValueError,
     ["Solid: points", "shape (n, 3)", "got shape (5, 2)"]),
    (np.zeros(15), SOLID_ELEMENTS, ValueError, ["got shape (15,)"]),
    (SOLID_POINTS.astype(np.float32), SOLID_ELEMENTS, ValueError, ["float64", "dtype float32"]),
    (SOLID_POINTS.astype(np.int64), SOLID_ELEMENTS, ValueError, ["dtype int64"]),
    ([[0.0, 0, 0], [1, 0]], SOLID_ELEMENTS, ValueError, ["Solid: points", "cannot read"]),
    (SOLID_POINTS, [[0, 1, 2]], ValueError,
     ["Solid: tetrahedra", "shape (m, 4)", "got shape (1, 3)"]),
    (SOLID_POINTS, np.array(SOLID_ELEMENTS, dtype=np.float64), ValueError, ["dtype float64"]),
    (SOLID_POINTS, np.array(SOLID_ELEMENTS, dtype=np.uint32), ValueError, ["dtype uint32"]),
    (SOLID_POINTS, [[0, 1, 2, 3], [1, 2, 3, 5]], IndexError,
     ["tetrahedra row 1", "vertex index 5", "[0, 5)"]),
    (SOLID_POINTS, np.array([[0, 1, 2, 3], [1, -1, 3, 4]], dtype=np.int32), IndexError,
     ["row 1", "vertex index -1"]),
]


@pytest.mark.parametrize("points, elements, error, fragments", BAD_INPUTS)
def test_bad_input_raises_the_usual_error_naming_shapes_or_rows(points, elements, error,
                                                               fragments):
    with pytest.raises(error) as raised:
        orvex.Solid(points, elements)
    for fragment in fragments:
        assert fragment in str(raised.value)


def test_from_meshio_takes_the_highest_dimensional_simplex_blocks():
    solid = orvex.from_meshio(meshio.Mesh(
        SOLID_POINTS,
        [("vertex", [[0]]), ("triangle", [[0, 1, 2]]), ("tetra", [SOLID_ELEMENTS[0]]),
         ("hexahedron", [[0, 1, 2, 3, 4, 0, 1, 2]]), ("tetra", [SOLID_ELEMENTS[1]])]))
    assert isinstance(solid, orvex.Solid)
    np.testing.assert_array_equal(solid.elements, SOLID_ELEMENTS)

    planar = np.array([[0.0, 0, 0], [1, 0, 0], [0, 1, 0]])
    surface = orvex.from_meshio(meshio.Mesh(planar, [("line", [[0, 1]]),
                                                     ("triangle", [[0, 1, 2]])]))
    assert isinstance(surface, orvex.Surface)
    np.testing.assert_array_equal(surface.points, planar[:, :2])
    curve = orvex.from_meshio(meshio.Mesh(planar[:2], [("line", [[0, 1]])]))
    assert isinstance(curve, orvex.Curve) and curve.points.shape == (2, 1)

    with pytest.raises(ValueError, match="coordinate 2 or beyond is not 0"):
        orvex.from_meshio(meshio.Mesh(planar + [0, 0, 1], [("triangle", [[0, 1, 2]])]))
    with pytest.raises(ValueError, match="no tetra, triangle or line cells.*hexahedron, quad"):
        orvex.from_meshio(meshio.Mesh(SOLID_POINTS, [("quad", [[0, 1, 2, 3]]),
                                                     ("hexahedron", [[0, 1, 2, 3, 4, 0, 1, 2]])]))
