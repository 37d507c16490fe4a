"""Quality of whole meshes and of bare coordinates: the C++ answers, value for value."""

import sys

import numpy as np
import pytest

import orvex
from conftest import unit_simplex


@pytest.mark.parametrize("kind", ["surface", "solid"])
def test_mesh_and_coordinates_forms_equal_the_cpp_answers(kind, cpp_answers, cpp_mesh):
    mesh = cpp_mesh(kind)
    by_mesh = orvex.quality(mesh)
    by_coordinates = orvex.quality(mesh.points[mesh.elements])
    for quality in (by_mesh, by_coordinates):
        assert len(quality) == mesh.n_elements
        for name in ("status", "distance", "configuration", "vertex", "vertices"):
            # Exact equality: the same functions, the same doubles.
            np.testing.assert_array_equal(getattr(quality, name), cpp_answers(kind, name),
                                          err_msg=name)
        counts = np.bincount(quality.status, minlength=3)
        assert (quality.n_valid, quality.n_degenerated, quality.n_inverted) == tuple(counts)
        assert min(counts) >= 1  # the generated mesh has every status
    assert by_mesh.status.dtype == np.uint8 and by_mesh.vertices.shape == (mesh.n_elements, 2)
    assert orvex.ElementStatus(by_mesh.status[-1]) is orvex.ElementStatus.DEGENERATED

    # Two threads (one per 16384 elements at most) on 100 copies: the same answers.
    copies = 100
    threaded = orvex.quality(np.tile(mesh.points[mesh.elements], (copies, 1, 1)), workers=3)
    for name in ("status", "distance", "vertices"):
        expected = cpp_answers(kind, name)
        np.testing.assert_array_equal(getattr(threaded, name),
                                      np.tile(expected, (copies,) + (1,) * (expected.ndim - 1)))
    assert threaded.n_inverted == copies * by_mesh.n_inverted


@pytest.mark.parametrize("kind", ["slivers2", "slivers3"])
def test_slivers_around_the_tolerance_equal_the_cpp_answers(kind, cpp_answers):
    quality = orvex.quality(cpp_answers(kind, "coordinates"))
    for name in ("status", "distance", "configuration", "vertex", "vertices"):
        np.testing.assert_array_equal(getattr(quality, name), cpp_answers(kind, name),
                                      err_msg=name)
    assert min(quality.n_valid, quality.n_degenerated, quality.n_inverted) > 100


def test_nan_coordinates_give_inverted_and_no_configuration():
    tetrahedron = unit_simplex(3).points[None, :, :].copy()
    tetrahedron[0, 2, 1] = np.nan
    quality = orvex.quality(tetrahedron)
    assert quality.status[0] == orvex.ElementStatus.INVERTED
    assert quality.configuration[0] == orvex.ConfigurationType.UNDEFINED
    assert quality.distance[0] == sys.float_info.max
    assert quality.vertex[0] == 255 and list(quality.vertices[0]) == [255, 255]
    assert len(orvex.quality(np.zeros((0, 3, 2)))) == 0


@pytest.mark.parametrize(
    "source, error, fragment",
    [
        (unit_simplex(1), TypeError, "Curve"),
        (np.zeros((2, 3, 3)), ValueError, "got shape (2, 3, 3)"),
        (np.zeros((2, 4, 2)), ValueError, "got shape (2, 4, 2)"),
        (np.zeros((2, 6)), ValueError, "(m, 3, 2)"),
        (np.zeros((2, 3, 2), dtype=np.float32), ValueError, "dtype float32"),
        (unit_simplex(3), ValueError, "workers must be"),
    ],
)
def test_bad_sources_are_refused(source, error, fragment):
    with pytest.raises(error) as raised:
        orvex.quality(source, workers=0 if "workers" in fragment else 1)
    assert fragment in str(raised.value)
