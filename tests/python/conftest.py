"""Shared fixtures: the C++ answers on generated meshes (cpp_answers.cpp) and small meshes."""

import os
import subprocess

import numpy as np
import pytest

import orvex

KINDS = {"curve": orvex.Curve, "surface": orvex.Surface, "solid": orvex.Solid}


@pytest.fixture(scope="session")
def cpp_answers(tmp_path_factory):
    """load(kind, name): an array that the C++ helper wrote for the generated mesh of `kind`
    ("curve", "surface", "solid"); name is points, elements, queries, answers, status,
    distance, configuration, vertex or vertices."""
    helper = os.environ.get("ORVEX_PYTHON_CPP_ANSWERS")
    if not helper:
        pytest.skip("ORVEX_PYTHON_CPP_ANSWERS (the C++ helper's path) is not set; run via ctest")
    folder = tmp_path_factory.mktemp("cpp_answers")
    subprocess.run([helper, str(folder)], check=True)
    return lambda kind, name: np.load(folder / f"{kind}_{name}.npy")


@pytest.fixture(scope="session")
def cpp_mesh(cpp_answers):
    """mesh(kind): the generated mesh of `kind`, built from the C++ helper's arrays."""
    return lambda kind: KINDS[kind](
        cpp_answers(kind, "points"), cpp_answers(kind, "elements").astype(np.int64)
    )


def unit_simplex(dimension):
    """The unit simplex of a dimension as a one-element mesh (origin first, positively
    oriented)."""
    points = np.vstack([np.zeros(dimension), np.eye(dimension)])
    if dimension == 1:
        return orvex.Curve(points, [[0, 1]])
    return KINDS["surface" if dimension == 2 else "solid"](points, [list(range(dimension + 1))])
