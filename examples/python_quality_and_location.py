"""Quality report and point location from Python, on a mesh file that meshio reads.

Prints the counts of valid, degenerated and inverted elements and the three smallest internal
distances, locates the element centroids and random points over the mesh's bounding box, and
plots the histogram of internal distances (per decade) to a PNG file. Needs no display.

Usage (Debian's interpreter, with the built package on the path):
    PYTHONPATH=build/release/python /usr/bin/python3 examples/python_quality_and_location.py \
        examples/data/plate.mesh [--png internal_distances.png]
"""

import argparse

import matplotlib

matplotlib.use("Agg")  # draws into files only: no display needed

import matplotlib.pyplot as plt  # noqa: E402
import meshio  # noqa: E402
import numpy as np  # noqa: E402

import orvex  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("mesh_file")
    parser.add_argument("--png", default="internal_distances.png")
    args = parser.parse_args()

    mesh = orvex.from_meshio(meshio.read(args.mesh_file))
    names = {orvex.Surface: "triangles", orvex.Solid: "tetrahedra"}
    name = names[type(mesh)]  # a curve has no internal distances

    quality = orvex.quality(mesh)
    print(f"{mesh.n_elements} {name}: {quality.n_valid} valid, "
          f"{quality.n_degenerated} degenerated, {quality.n_inverted} inverted")
    for element in np.argsort(quality.distance, kind="stable")[:3]:
        status = orvex.ElementStatus(quality.status[element]).name.lower()
        kind = orvex.ConfigurationType(quality.configuration[element]).name.lower()
        print(f"  element {element}: {status}, {kind} at distance "
              f"{quality.distance[element]:.6g}")

    search = orvex.ElementSearch(mesh)
    centroids = mesh.points[mesh.elements].mean(axis=1)
    found = search.locate(centroids)
    print(f"{np.count_nonzero(found == np.arange(mesh.n_elements))} of {mesh.n_elements} "
          "centroids found in their own element")
    low, high = mesh.points.min(axis=0), mesh.points.max(axis=0)
    spread = np.random.default_rng(1).uniform(low, high, size=(1000, mesh.dimension))
    print(f"{np.count_nonzero(search.locate(spread) >= 0)} of 1000 points over the bounding "
          "box found in an element")

    # One bar per decade, from 1e-7 (or lower) up; smaller distances, 0 included, count in the
    # first bar, left of the tolerance line.
    measured = quality.distance[quality.distance < np.finfo(np.float64).max]
    positive = measured[measured > 0]
    lowest = min(-7, np.floor(np.log10(positive.min()))) if positive.size else -7
    highest = max(lowest + 1, np.ceil(np.log10(measured.max()))) if measured.size else 0
    edges = 10.0 ** np.arange(lowest, highest + 1)
    figure, axes = plt.subplots(figsize=(6, 3.5))
    axes.hist(np.clip(measured, edges[0], None), bins=edges)
    axes.set_xscale("log")
    axes.axvline(orvex.TOLERANCE, color="red", linestyle="--", label="tolerance 1e-6")
    axes.set_xlabel("smallest internal distance")
    axes.set_ylabel(name)
    axes.legend()
    figure.tight_layout()
    figure.savefig(args.png, dpi=100)
    print(f"histogram written to {args.png}")


if __name__ == "__main__":
    main()
