"""Type stubs of the orvex package (hand-written; the module itself is compiled).

Shapes: n points, m elements, D the mesh's dimension (1 for a Curve, 2 for a Surface, 3 for a
Solid). One tolerance throughout: TOLERANCE = 1e-6, absolute, in the mesh's units of length,
bound included.
"""

import enum
from typing import Any, ClassVar, Optional, Tuple, Union, overload

import numpy as np
import numpy.typing as npt

TOLERANCE: float
"""1e-6: lengths at most this count as zero; points this close to an element are in it."""

class ElementStatus(enum.IntEnum):
    VALID = 0
    DEGENERATED = 1
    INVERTED = 2

class ConfigurationType(enum.IntEnum):
    POINT_POINT = 0
    POINT_SEGMENT = 1
    POINT_TRIANGLE = 2
    SEGMENT_SEGMENT = 3
    EDGE_SAME_ADJACENT = 4
    VERTEX_SAME_ADJACENT = 5
    UNDEFINED = 6

class _Mesh:
    """What the three mesh classes share (a name of this stub only)."""

    dimension: ClassVar[int]
    @property
    def n_points(self) -> int: ...
    @property
    def n_elements(self) -> int: ...
    @property
    def points(self) -> npt.NDArray[np.float64]:
        """A copy, shape (n, D)."""
    @property
    def elements(self) -> npt.NDArray[np.int64]:
        """A copy, shape (m, D + 1)."""

class Curve(_Mesh):
    """Edges on the line. Built from points (n, 1) float64 and edges (m, 2) int32/int64,
    copied once; ValueError on a wrong shape or dtype, IndexError on an index outside [0, n)."""

    def __init__(self, points: npt.ArrayLike, edges: npt.ArrayLike) -> None: ...

class Surface(_Mesh):
    """Triangles of the plane. Built from points (n, 2) float64 and triangles (m, 3)
    int32/int64, copied once; ValueError on a wrong shape or dtype, IndexError on an index
    outside [0, n)."""

    def __init__(self, points: npt.ArrayLike, triangles: npt.ArrayLike) -> None: ...

class Solid(_Mesh):
    """Tetrahedra of space. Built from points (n, 3) float64 and tetrahedra (m, 4)
    int32/int64, copied once; ValueError on a wrong shape or dtype, IndexError on an index
    outside [0, n)."""

    def __init__(self, points: npt.ArrayLike, tetrahedra: npt.ArrayLike) -> None: ...

Mesh = Union[Curve, Surface, Solid]

class Quality:
    """The quality of m elements; arrays of shape (m,) unless said."""

    @property
    def status(self) -> npt.NDArray[np.uint8]:
        """ElementStatus values."""
    @property
    def distance(self) -> npt.NDArray[np.float64]:
        """Smallest internal distances (sys.float_info.max when none is a number)."""
    @property
    def configuration(self) -> npt.NDArray[np.uint8]:
        """ConfigurationType values."""
    @property
    def vertex(self) -> npt.NDArray[np.uint8]:
        """The configuration's single local vertex; 255: none."""
    @property
    def vertices(self) -> npt.NDArray[np.uint8]:
        """Shape (m, 2): the configuration's two local vertices; 255: none."""
    @property
    def n_valid(self) -> int: ...
    @property
    def n_degenerated(self) -> int: ...
    @property
    def n_inverted(self) -> int: ...
    def __len__(self) -> int: ...

@overload
def quality(source: Surface, workers: int = 1) -> Quality: ...
@overload
def quality(source: Solid, workers: int = 1) -> Quality: ...
@overload
def quality(source: npt.ArrayLike, workers: int = 1) -> Quality:
    """Bare coordinates: float64 of shape (m, 3, 2) (triangles) or (m, 4, 3) (tetrahedra).
    workers: threads (-1: every available core), at most one per 16384 elements."""

class ElementSearch:
    """Point location in a snapshot of a mesh, within 1e-6 (bound included); the nearest
    element wins, ties (shared faces) go to one of them by the tree's fixed order."""

    def __init__(self, mesh: Mesh) -> None: ...
    @property
    def dimension(self) -> int: ...
    @property
    def n_elements(self) -> int: ...
    @overload
    def locate(self, points: Tuple[float, ...], workers: int = 1) -> Optional[int]: ...
    @overload
    def locate(
        self, points: npt.ArrayLike, workers: int = 1
    ) -> Union[npt.NDArray[np.int64], int, None]:
        """Shape (..., D) -> int64 of shape points.shape[:-1], -1 for none; shape (D,) -> int
        or None. workers: threads (-1: every available core), at most one per 16384 points."""
    def rebuild(self, mesh: Mesh) -> None:
        """A new snapshot of a mesh of the same kind (TypeError otherwise)."""
    def update(
        self,
        mesh: Mesh,
        *,
        element_renumbering: Optional[npt.ArrayLike] = None,
        vertex_renumbering: Optional[npt.ArrayLike] = None,
        created_elements: Optional[npt.ArrayLike] = None,
        modified_elements: Optional[npt.ArrayLike] = None,
        moved_vertices: Optional[npt.ArrayLike] = None,
    ) -> None:
        """The snapshot brought to `mesh` from what changed: int32/int64 arrays of shape (n,);
        renumberings old-to-new with -1 for deleted; the answers a rebuild would give."""
    def _locate_timed(self, points: npt.ArrayLike) -> Tuple[npt.NDArray[np.int64], float]: ...

def from_meshio(mesh: Any) -> Mesh:
    """The mesh of a meshio.Mesh's highest-dimensional tetra, triangle or line cells."""
