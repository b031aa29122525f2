"""Triangle meshes built from convex parts, written as Wavefront OBJ text.

Every part is convex, so each face is turned to face away from the part's centre; the
normals are flat (one per face) and the texture coordinates are a box projection.
"""

import math


def sub(a, b):
    return (a[0] - b[0], a[1] - b[1], a[2] - b[2])


def add(a, b):
    return (a[0] + b[0], a[1] + b[1], a[2] + b[2])


def scale(a, s):
    return (a[0] * s, a[1] * s, a[2] * s)


def dot(a, b):
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def normalize(a):
    length = math.sqrt(dot(a, a))
    if length < 1e-12:
        return (0.0, 0.0, 0.0)
    return scale(a, 1.0 / length)


def centroid(points):
    n = float(len(points))
    return (sum(p[0] for p in points) / n, sum(p[1] for p in points) / n,
            sum(p[2] for p in points) / n)


def newell_normal(points):
    nx = ny = nz = 0.0
    for i, p in enumerate(points):
        q = points[(i + 1) % len(points)]
        nx += (p[1] - q[1]) * (p[2] + q[2])
        ny += (p[2] - q[2]) * (p[0] + q[0])
        nz += (p[0] - q[0]) * (p[1] + q[1])
    return (nx, ny, nz)


class Mesh:
    def __init__(self, uv_scale):
        self.uv_scale = uv_scale  # model units per texture repeat
        self.triangles = []  # ((p0, p1, p2), normal)

    def add_face(self, points, inside):
        """Adds a planar convex polygon, wound so that it faces away from `inside`."""
        # Drop repeated corners (a ring that closes to a point gives triangles).
        clean = []
        for p in points:
            if not clean or max(abs(c) for c in sub(p, clean[-1])) > 1e-9:
                clean.append(p)
        if len(clean) > 1 and max(abs(c) for c in sub(clean[0], clean[-1])) <= 1e-9:
            clean.pop()
        if len(clean) < 3:
            return
        normal = newell_normal(clean)
        if dot(normal, sub(centroid(clean), inside)) < 0:
            clean.reverse()
            normal = scale(normal, -1.0)
        normal = normalize(normal)
        if normal == (0.0, 0.0, 0.0):
            return
        for i in range(1, len(clean) - 1):
            self.triangles.append(((clean[0], clean[i], clean[i + 1]), normal))

    def loft(self, rings):
        """A convex body through rings of equal size (a ring of one point is an apex)."""
        count = max(len(r) for r in rings)
        rings = [r * count if len(r) == 1 else r for r in rings]
        inside = centroid([p for r in rings for p in r])
        for a, b in zip(rings, rings[1:]):
            for i in range(count):
                j = (i + 1) % count
                self.add_face([a[i], a[j], b[j], b[i]], inside)
        self.add_face(rings[0], inside)
        self.add_face(rings[-1], inside)

    def box(self, lo, hi):
        x0, y0, z0 = lo
        x1, y1, z1 = hi
        self.loft([[(x0, y0, z0), (x1, y0, z0), (x1, y1, z0), (x0, y1, z0)],
                   [(x0, y0, z1), (x1, y0, z1), (x1, y1, z1), (x0, y1, z1)]])

    def scale(self, factor):
        """Scales the whole mesh about the origin; texture coordinates scale with it."""
        self.triangles = [(tuple(scale(p, factor) for p in tri), normal)
                          for (tri, normal) in self.triangles]
        self.uv_scale *= factor

    def uv(self, p, normal):
        ax = [abs(c) for c in normal]
        if ax[0] >= ax[1] and ax[0] >= ax[2]:
            u, v = p[2], p[1]
        elif ax[1] >= ax[2]:
            u, v = p[0], p[2]
        else:
            u, v = p[0], p[1]
        return (u / self.uv_scale + 0.5, v / self.uv_scale + 0.5)

    def write_obj(self, path, comment):
        positions, normals, uvs = {}, {}, {}
        lines_v, lines_vn, lines_vt, lines_f = [], [], [], []

        def index(table, lines, prefix, values):
            key = tuple(fmt(c) for c in values)
            if key not in table:
                table[key] = len(table) + 1
                lines.append(prefix + " " + " ".join(key))
            return table[key]

        for (tri, normal) in self.triangles:
            ni = index(normals, lines_vn, "vn", normal)
            corners = []
            for p in tri:
                vi = index(positions, lines_v, "v", p)
                ti = index(uvs, lines_vt, "vt", self.uv(p, normal))
                corners.append("%d/%d/%d" % (vi, ti, ni))
            lines_f.append("f " + " ".join(corners))
        with open(path, "w", newline="\n") as f:
            f.write("# %s\n" % comment)
            f.write("# %d triangles\n" % len(self.triangles))
            for block in (lines_v, lines_vt, lines_vn):
                f.write("\n".join(block) + "\n")
            f.write("o " + comment.split()[0] + "\n")
            f.write("\n".join(lines_f) + "\n")


def fmt(value):
    text = "%.5f" % value
    if text == "-0.00000":
        text = "0.00000"
    return text


def ring(centre, rx, ry, sides, phase=0.0, axis="z"):
    """A regular polygon of `sides` corners around `centre`, across the given axis."""
    points = []
    for i in range(sides):
        a = phase + 2.0 * math.pi * i / sides
        c, s = math.cos(a) * rx, math.sin(a) * ry
        if axis == "z":
            points.append((centre[0] + c, centre[1] + s, centre[2]))
        elif axis == "x":
            points.append((centre[0], centre[1] + s, centre[2] + c))
        else:
            points.append((centre[0] + c, centre[1], centre[2] + s))
    return points
