"""The images: hull textures (light, tinted by the team colour in the client), the explosion
sprite and the starfield cross of the skybox. Pseudo-random numbers come from a fixed hash,
so every run gives the same pixels."""

import math

from pngwrite import write_png


class Rng:
    """xorshift64*: small, fast enough, and the same on every Python."""

    def __init__(self, seed):
        self.state = (seed * 0x9E3779B97F4A7C15 + 1) & 0xFFFFFFFFFFFFFFFF

    def next(self):
        x = self.state
        x ^= (x >> 12)
        x ^= (x << 25) & 0xFFFFFFFFFFFFFFFF
        x ^= (x >> 27)
        self.state = x
        return ((x * 0x2545F4914F6CDD1D) & 0xFFFFFFFFFFFFFFFF) >> 11

    def uniform(self):
        return self.next() / float(1 << 53)

    def gauss(self):
        u1 = max(self.uniform(), 1e-12)
        return math.sqrt(-2.0 * math.log(u1)) * math.cos(2.0 * math.pi * self.uniform())


def _clamp(v):
    return 0 if v < 0 else (255 if v > 255 else int(v + 0.5))


def _smoothstep(e0, e1, x):
    t = min(max((x - e0) / (e1 - e0), 0.0), 1.0)
    return t * t * (3.0 - 2.0 * t)


def hull_texture(path, size, panel_w, panel_h, seed, windows):
    """Light plating: panels of slightly varied shade, seams, rivets and (optionally) rows of
    dark windows. Values stay high so that the team colour shows through."""
    rng = Rng(seed)
    cols, rows = size // panel_w, size // panel_h
    shades = [[rng.uniform() * 16.0 - 8.0 for _ in range(cols)] for _ in range(rows)]
    px = bytearray(size * size * 3)
    for y in range(size):
        row = y // panel_h
        for x in range(size):
            # Every other row of panels is shifted by half a panel, like laid plates.
            sx = (x + (panel_w // 2 if row % 2 else 0)) % size
            col = sx // panel_w
            v = 228.0 + shades[row][col] + (rng.uniform() - 0.5) * 6.0
            lx, ly = sx % panel_w, y % panel_h
            if lx < 2 or ly < 2:
                v = 168.0
            elif (lx in (5, panel_w - 5) or ly in (5, panel_h - 5)) and (lx + ly) % 8 == 0:
                v = 150.0
            if windows and row % 4 == 2 and 8 <= ly < panel_h - 8 and (lx // 6) % 2 == 1 \
                    and 6 <= lx < panel_w - 6:
                v = 70.0
            i = (y * size + x) * 3
            px[i] = px[i + 1] = px[i + 2] = _clamp(v)
            px[i + 2] = _clamp(v + 4.0)  # a faint cool cast
    write_png(path, size, size, 3, px)


def explosion(path, size=128, seed=7):
    """A fireball: a white-hot core through yellow and orange to dark red smoke, with ragged
    edges; transparent outside."""
    rng = Rng(seed)
    lobes = [(rng.uniform() * 6.2832, 2 + int(rng.uniform() * 9), 0.05 + rng.uniform() * 0.1)
             for _ in range(6)]
    ramp = [(0.0, (70, 18, 8)), (0.25, (200, 60, 15)), (0.5, (250, 150, 40)),
            (0.75, (255, 220, 110)), (1.0, (255, 252, 235))]
    px = bytearray(size * size * 4)
    c = (size - 1) / 2.0
    for y in range(size):
        for x in range(size):
            dx, dy = (x - c) / c, (y - c) / c
            r = math.sqrt(dx * dx + dy * dy)
            a = math.atan2(dy, dx)
            edge = 0.78
            for phase, k, amp in lobes:
                edge += amp * math.sin(k * a + phase + 3.0 * r)
            f = max(0.0, 1.0 - r / max(edge, 0.2))
            f = min(1.0, f * 1.35)
            # Colour ramp.
            for (t0, c0), (t1, c1) in zip(ramp, ramp[1:]):
                if f <= t1:
                    k = (f - t0) / (t1 - t0)
                    col = [c0[j] + (c1[j] - c0[j]) * k for j in range(3)]
                    break
            alpha = _smoothstep(0.0, 0.3, f) * 255.0
            i = (y * size + x) * 4
            px[i], px[i + 1], px[i + 2] = (_clamp(col[0]), _clamp(col[1]), _clamp(col[2]))
            px[i + 3] = _clamp(alpha)
    write_png(path, size, size, 4, px)


# ---- skybox ----
#
# The image is a 4 x 3 grid of cells. The middle row holds the four sides, the cell above the
# second column the bottom face and the one below it the top face (t = 0 is the first row).
# Each face maps its cell linearly onto one face of the cube [-1, 1]^3: the corner (a, b) of the
# cell (a along the image's width, b down its height, both 0..1) lies at o + a*ea + b*eb. These
# come straight from the corner table that the client's skybox draws with.
SKY_FACES = [
    # (column, row, o, ea, eb)
    (1, 1, (1, -1, -1), (-2, 0, 0), (0, 2, 0)),  # z = -1
    (0, 1, (1, -1, 1), (0, 0, -2), (0, 2, 0)),  # x = +1
    (3, 1, (-1, -1, 1), (2, 0, 0), (0, 2, 0)),  # z = +1
    (2, 1, (-1, -1, -1), (0, 0, 2), (0, 2, 0)),  # x = -1
    (1, 2, (1, 1, -1), (-2, 0, 0), (0, 0, 2)),  # y = +1
    (1, 0, (1, -1, 1), (-2, 0, 0), (0, 0, -2)),  # y = -1
]

_GUTTER = 12  # pixels filled beyond each face, so that filtering never mixes in black


def _sky_background(d):
    x, y, z = d
    n = (0.55 * math.sin(3.1 * (0.48 * x + 0.62 * y - 0.62 * z) + 0.4)
         + 0.35 * math.sin(5.3 * (-0.7 * x + 0.1 * y + 0.7 * z) + 1.9)
         + 0.25 * math.sin(8.9 * (0.2 * x - 0.9 * y + 0.38 * z) + 2.7)
         + 0.15 * math.sin(13.7 * (0.81 * x + 0.33 * y + 0.48 * z) + 0.8))
    cloud = _smoothstep(0.25, 1.1, n)
    m = (0.5 * math.sin(4.2 * (0.9 * x - 0.3 * z) + 2.2) + 0.4 * math.sin(7.7 * (y + 0.4 * x)))
    cloud2 = _smoothstep(0.35, 0.9, m)
    band = 0.577 * x - 0.577 * y + 0.577 * z
    milky = math.exp(-band * band / 0.035) * (0.65 + 0.35 * math.sin(9.0 * (x - z) + 6.0 * y))
    r = 4.0 + 38.0 * cloud + 8.0 * cloud2 + 30.0 * milky
    g = 5.0 + 14.0 * cloud + 28.0 * cloud2 + 30.0 * milky
    b = 12.0 + 62.0 * cloud + 48.0 * cloud2 + 40.0 * milky
    return r, g, b


def skybox(path, cell=256, seed=11):
    width, height = 4 * cell, 3 * cell
    faces = []
    for (col, row, o, ea, eb) in SKY_FACES:
        n = [ea[1] * eb[2] - ea[2] * eb[1], ea[2] * eb[0] - ea[0] * eb[2],
             ea[0] * eb[1] - ea[1] * eb[0]]
        length = math.sqrt(sum(c * c for c in n))
        n = [c / length for c in n]
        if sum(n[i] * o[i] for i in range(3)) < 0:
            n = [-c for c in n]
        faces.append((col, row, o, ea, eb, n))

    # Which face paints each pixel: its own cell, and a gutter round it (nearest face wins).
    owner = [-1] * (width * height)
    for y in range(height):
        for x in range(width):
            best, best_d = -1, _GUTTER + 1
            for k, (col, row, _, _, _, _) in enumerate(faces):
                dx = max(col * cell - x, 0, x - ((col + 1) * cell - 1))
                dy = max(row * cell - y, 0, y - ((row + 1) * cell - 1))
                d = max(dx, dy)
                if d < best_d:
                    best, best_d = k, d
            owner[y * width + x] = best

    acc = [0.0] * (width * height * 3)

    def direction(k, x, y):
        col, row, o, ea, eb, _ = faces[k]
        a = (x + 0.5) / cell - col
        b = (y + 0.5) / cell - row
        p = [o[i] + a * ea[i] + b * eb[i] for i in range(3)]
        length = math.sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2])
        return (p[0] / length, p[1] / length, p[2] / length)

    for y in range(height):
        for x in range(width):
            k = owner[y * width + x]
            if k < 0:
                continue
            r, g, b = _sky_background(direction(k, x, y))
            i = (y * width + x) * 3
            acc[i], acc[i + 1], acc[i + 2] = r, g, b

    # Stars: uniform over the sphere, plus a denser crowd along the galactic band.
    rng = Rng(seed)
    tints = [(1.0, 1.0, 1.0), (0.78, 0.86, 1.0), (1.0, 0.94, 0.82), (1.0, 0.82, 0.7)]
    stars = []
    for i in range(5200):
        v = [rng.gauss(), rng.gauss(), rng.gauss()]
        if i >= 3200:  # pull towards the band's plane
            k = (0.577 * v[0] - 0.577 * v[1] + 0.577 * v[2]) * 0.85
            v = [v[0] - k * 0.577, v[1] + k * 0.577, v[2] - k * 0.577]
        length = math.sqrt(sum(c * c for c in v))
        u = rng.uniform()
        bright = 0.18 + 0.82 * u ** 6
        if rng.uniform() < 0.01:
            bright = 1.6
        stars.append(([c / length for c in v], bright, tints[int(rng.uniform() * 4)]))

    for (d, bright, tint) in stars:
        sigma = 0.45 + 0.55 * min(bright, 1.2)
        reach = 3 if bright > 0.6 else 2
        for k, (col, row, o, ea, eb, n) in enumerate(faces):
            facing = d[0] * n[0] + d[1] * n[1] + d[2] * n[2]
            if facing <= 0.2:
                continue
            dist = o[0] * n[0] + o[1] * n[1] + o[2] * n[2]
            p = [c * dist / facing - o[i] for i, c in enumerate(d)]
            a = sum(p[i] * ea[i] for i in range(3)) / 4.0
            b = sum(p[i] * eb[i] for i in range(3)) / 4.0
            cx, cy = (col + a) * cell - 0.5, (row + b) * cell - 0.5
            for y in range(int(math.floor(cy)) - reach, int(math.floor(cy)) + reach + 2):
                if y < 0 or y >= height:
                    continue
                for x in range(int(math.floor(cx)) - reach, int(math.floor(cx)) + reach + 2):
                    if x < 0 or x >= width or owner[y * width + x] != k:
                        continue
                    w = math.exp(-((x - cx) ** 2 + (y - cy) ** 2) / (2.0 * sigma * sigma))
                    i = (y * width + x) * 3
                    for j in range(3):
                        acc[i + j] += 255.0 * bright * w * tint[j]

    px = bytearray(_clamp(v) for v in acc)
    write_png(path, width, height, 3, px)
