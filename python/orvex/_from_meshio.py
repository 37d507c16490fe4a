"""Meshes from meshio (``meshio.Mesh``, as ``meshio.read`` gives them)."""

import numpy as _np

from ._core import Curve, Solid, Surface

# The meshio cell types the library handles, by dimension, and the class of each.
_KINDS = {"line": (1, Curve), "triangle": (2, Surface), "tetra": (3, Solid)}


def from_meshio(mesh):
    """The Curve, Surface or Solid of a meshio mesh's highest-dimensional cells.

    Takes the cell blocks of the highest dimension among ``tetra``, ``triangle`` and ``line``
    (the others, such as ``vertex``, ``quad`` or ``hexahedron``, are left out); several blocks of
    that type are joined in their order, so element i is the i-th such cell of the file. Points
    are read as float64; a solid takes them as (n, 3). A surface must lie in the plane z = 0 and
    a curve on the x axis (the coordinates beyond the mesh's dimension all zero; ValueError
    otherwise). The mesh gets its own copy of the points and cells.

    Raises ValueError when the mesh has none of the three cell types.
    """
    blocks = [block for block in mesh.cells if block.type in _KINDS]
    if not blocks:
        found = sorted({block.type for block in mesh.cells})
        raise ValueError(
            "from_meshio: the mesh has no tetra, triangle or line cells (it has: "
            + (", ".join(found) if found else "no cells")
            + ")"
        )
    dimension, kind = max((_KINDS[block.type] for block in blocks), key=lambda k: k[0])
    cells = [block.data for block in blocks if _KINDS[block.type][0] == dimension]
    cells = cells[0] if len(cells) == 1 else _np.concatenate(cells)
    if cells.dtype not in (_np.int32, _np.int64):
        cells = cells.astype(_np.int64)
    points = _np.asarray(mesh.points, dtype=_np.float64)
    if points.ndim != 2 or points.shape[1] < dimension:
        raise ValueError(
            f"from_meshio: points of shape {points.shape} cannot hold a mesh of dimension "
            f"{dimension}"
        )
    extra = points[:, dimension:]
    if extra.size and _np.any(extra != 0):
        raise ValueError(
            f"from_meshio: a {kind.__name__} lies in dimension {dimension}, but coordinate "
            f"{dimension} or beyond is not 0 for some points (the library's surfaces are planar "
            "and its curves lie on a line)"
        )
    return kind(points[:, :dimension], cells)
