"""The three models: fighter, shot and carrier. Forward is +z, up is +y."""

from mesh import Mesh, add, ring


def _airfoil(x, y, le, te, thickness, axis="x"):
    """A diamond section across `axis` (x: a wing, y: a fin), leading edge at z = le."""
    mid = le + (te - le) * 0.35
    half = thickness * 0.5
    if axis == "x":
        return [(x, y, le), (x, y + half, mid), (x, y, te), (x, y - half, mid)]
    # A fin: (x, y) is the section's centre, the thickness runs along x.
    return [(x, y, le), (x + half, y, mid), (x, y, te), (x - half, y, mid)]


def fighter():
    """About 115 x 97 x 39 model units: 5.7 x 4.9 x 2 at the client's 0.05 scale, inside the
    ship's hit sphere of radius 4, and small enough to see past from the chase camera."""
    m = Mesh(uv_scale=160.0)
    # Fuselage: octagonal sections from the tail to a pointed nose.
    body = []
    for z, rx, ry in ((-78, 10, 9), (-60, 15, 12), (-10, 16, 13), (30, 12, 10), (60, 6, 6)):
        body.append(ring((0, 0, z), rx, ry, 8, phase=3.14159265 / 8))
    body.append([(0, -1, 88)])
    m.loft(body)
    # Canopy.
    m.loft([[(0, 9, -14)], ring((0, 12, 2), 7, 6, 6), ring((0, 11, 24), 5, 4, 6), [(0, 8, 42)]])
    for side in (1, -1):
        # Swept main wing, thinning to the tip.
        m.loft([_airfoil(side * 12, -2, 22, -50, 6), _airfoil(side * 72, -4, -28, -52, 2)])
        # Wing-tip gun.
        m.loft([ring((side * 72, -4, -56), 2.5, 2.5, 6), ring((side * 72, -4, 6), 2.5, 2.5, 6),
                ring((side * 72, -4, 14), 1.2, 1.2, 6)])
        # Canard.
        m.loft([_airfoil(side * 10, 0, 54, 32, 3), _airfoil(side * 28, 0, 40, 33, 1.5)])
        # Canted tail fin.
        m.loft([_airfoil(side * 7, 9, -36, -76, 3, axis="y"),
                _airfoil(side * 15, 38, -66, -82, 1.5, axis="y")])
        # Engine nacelle with its nozzle.
        centre = (side * 9, -3, 0)
        m.loft([ring(add(centre, (0, 0, -36)), 5.5, 5.5, 8),
                ring(add(centre, (0, 0, -48)), 7.5, 7.5, 8),
                ring(add(centre, (0, 0, -80)), 7.5, 7.5, 8),
                ring(add(centre, (0, 0, -88)), 6.0, 6.0, 8)])
    m.scale(0.65)
    return m


def shot():
    """A bolt about 300 model units long (3 at the client's 0.01 scale)."""
    m = Mesh(uv_scale=300.0)
    m.loft([[(0, 0, -150)], ring((0, 0, -60), 35, 35, 6), ring((0, 0, 60), 35, 35, 6),
            [(0, 0, 150)]])
    return m


def carrier():
    """A carrier about 100 units long. The client draws it moved by (0, -13, -130) from its
    object's position, where the team's ships start and the carrier's hit sphere (radius 40)
    sits; so the model puts the front edge of its flight deck just below and behind
    (0, 13, 130): a ship starts at the bow, ready to launch, with the hull behind it."""
    s = 0.75
    # Deck top (local y = 10) at 3 below the start point, deck front (local z = 60) 1 past it.
    offset = (0.0, 13.0 - 3.0 - 10.0 * s, 130.0 + 1.0 - 60.0 * s)
    m = Mesh(uv_scale=40.0)

    def p(x, y, z):
        return (x * s + offset[0], y * s + offset[1], z * s + offset[2])

    def section(z, k, lift=0.0):
        shape = ((-14, 8), (14, 8), (16, 0), (10, -10), (-10, -10), (-16, 0))
        return [p(x * k, (y + 1) * k - 1 + lift, z) for (x, y) in shape]

    def box(lo, hi):
        m.box(p(*lo), p(*hi))

    # Hull.
    m.loft([section(-60, 0.8), section(-44, 1.0), section(38, 1.0), section(56, 0.6, 1.5),
            section(66, 0.12, 5.0)])
    # Flight deck and the angled deck on the port side.
    box((-19, 8, -58), (19, 10, 60))
    deck = [(-19, -20), (-27, 8), (-27, 36), (-19, 48)]
    m.loft([[p(x, 8, z) for (x, z) in deck], [p(x, 10, z) for (x, z) in deck]])
    # Island with its bridge and mast on the starboard side.
    box((12, 10, -2), (18, 22, 22))
    box((11, 22, 4), (18.5, 27, 16))
    m.loft([ring(p(15, 27, 10), 0.9 * s, 0.9 * s, 6, axis="y"),
            ring(p(15, 40, 10), 0.5 * s, 0.5 * s, 6, axis="y")])
    # Hangar sponsons along both sides.
    for side in (1, -1):
        lo, hi = sorted((side * 15, side * 19.5))
        box((lo, -5, -34), (hi, 4, 30))
    # Engine block: three drives at the stern.
    for x in (-10, 0, 10):
        m.loft([ring(p(x, -2, -52), 5 * s, 5 * s, 8), ring(p(x, -2, -66), 5 * s, 5 * s, 8),
                ring(p(x, -2, -70), 3.8 * s, 3.8 * s, 8)])
    # Keel fin.
    m.loft([[p(-1, -10, -40), p(1, -10, -40), p(1, -10, 30), p(-1, -10, 30)],
            [p(-0.5, -15, -30), p(0.5, -15, -30), p(0.5, -15, 10), p(-0.5, -15, 10)]])
    return m
