"""Mesh quality by internal distances and point location, on numpy arrays.

Meshes are built once from arrays (copied once): ``Curve(points, edges)`` on the line,
``Surface(points, triangles)`` in the plane, ``Solid(points, tetrahedra)`` in space, or
``from_meshio(mesh)``. ``quality(mesh)`` gives every element's status and smallest internal
distance; ``ElementSearch(mesh).locate(points)`` the element that holds each point.

One length tolerance applies throughout: ``TOLERANCE`` = 1e-6, absolute, in the mesh's units of
length, bound included. Heavy work runs in C++ with the GIL released.
"""

import enum as _enum

from ._core import TOLERANCE, Curve, ElementSearch, Quality, Solid, Surface, quality
from ._from_meshio import from_meshio

# The compiled names are shown as orvex's own (help, repr of the classes).
for _name in ("Curve", "Surface", "Solid", "Quality", "ElementSearch", "quality"):
    globals()[_name].__module__ = __name__
del _name

__all__ = [
    "TOLERANCE",
    "ConfigurationType",
    "Curve",
    "ElementSearch",
    "ElementStatus",
    "Quality",
    "Solid",
    "Surface",
    "from_meshio",
    "quality",
]


class ElementStatus(_enum.IntEnum):
    """How an element stands: the values of ``Quality.status``."""

    VALID = 0
    """No internal distance at most 1e-6, positively oriented."""
    DEGENERATED = 1
    """Some internal distance at most 1e-6 (bound included)."""
    INVERTED = 2
    """Not degenerated and not positively oriented (a zero or NaN orientation included)."""


class ConfigurationType(_enum.IntEnum):
    """Which configuration realises a smallest internal distance: the values of
    ``Quality.configuration``."""

    POINT_POINT = 0
    """Two vertices close to each other (``vertices``)."""
    POINT_SEGMENT = 1
    """A vertex (``vertex``) close to the edge that does not contain it (``vertices``)."""
    POINT_TRIANGLE = 2
    """A vertex of a tetrahedron (``vertex``) close to its opposite facet."""
    SEGMENT_SEGMENT = 3
    """Two opposite edges of a tetrahedron: ``vertices`` holds the first, the second is made of
    the two other vertices."""
    EDGE_SAME_ADJACENT = 4
    """An edge whose two facets have the same neighbour (not produced by ``quality``)."""
    VERTEX_SAME_ADJACENT = 5
    """A vertex whose sides all have the same neighbour (not produced by ``quality``)."""
    UNDEFINED = 6
    """No configuration measured (NaN coordinates)."""
