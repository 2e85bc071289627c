"""The application icon of the installed program (desktop menu, task bar, software
centre), in full colour with transparency, at the sizes of the hicolor icon theme.

The motif is the window icon's: a program window with a magnifying glass over it; here
the window holds a picture, which the glass enlarges. Each size is drawn for its size:
16 and 24 pixel by pixel, 32 and 48 from shapes whose edges lie on whole pixels with
the detail those sizes can carry, 64 and up with gradients, highlights and a shadow.
"""

import math

from pixelart import overlay
from raster import Capsule, Clipped, Ellipse, Polygon, Rect, Ring, Scene, gradient, lerp

SIZES = (16, 24, 32, 48, 64, 128, 256)

FRAME = (35, 38, 46)
TITLE = (31, 95, 191)
TITLE_LIGHT = (84, 140, 225)
PAPER = (250, 251, 253)
LINE = (150, 158, 172)
SKY = (111, 179, 240)
SKY_LIGHT = (178, 215, 248)
HILL = (60, 154, 74)
HILL_LIGHT = (120, 196, 90)
SUN = (246, 199, 55)
RIM = (204, 208, 216)
RIM_DARK = (112, 118, 130)
HANDLE = (45, 47, 54)
HANDLE_LIGHT = (104, 108, 120)
GLASS = (200, 225, 255)
WHITE = (255, 255, 255)

# ----------------------------------------------------------------------------- by hand

# One letter per pixel; "." is transparent.
LETTERS = {
    "K": FRAME, "B": TITLE, "b": TITLE_LIGHT, "W": PAPER, "L": LINE, "S": SKY, "s": SKY_LIGHT,
    "G": HILL, "g": HILL_LIGHT, "Y": SUN, "M": RIM, "m": RIM_DARK, "H": HANDLE, "h": HANDLE_LIGHT,
    "C": GLASS, "w": WHITE,
}

ICON16 = [
    "................",
    "KKKKKKKKKKKK....",
    "KBBBBBBBBBwK....",
    "KKKKKKKKKKKK....",
    "KWWWWWWWWWWK....",
    "KWLLLWSSSSSK....",
    "KWWWWWSSSSSK....",
    "KWLLLWSSKKKK....",
    "KWWWWWSKsYYsK...",
    "KWLLWWGKsYYsK...",
    "KWWWWGGKssggK...",
    "KKKKKKKKgggGK...",
    "........KKKKHh..",
    "............HHh.",
    ".............HHh",
    "..............Hh",
]

_WINDOW24 = [
    "........................",
    "KKKKKKKKKKKKKKKKKK......",
    "KbbbbbbbbbbbbbbbbK......",
    "KBBBBBBBBBBBBBwwBK......",
    "KBBBBBBBBBBBBBwwBK......",
    "KKKKKKKKKKKKKKKKKK......",
    "KWWWWWWWWWWWWWWWWK......",
    "KWLLLLWSSSSSSSSSWK......",
    "KWWWWWWSSSSSSYYSWK......",
    "KWLLLWWSSSSSSYYSWK......",
    "KWWWWWWSSSSSSSSSWK......",
    "KWLLLLWSSSSSSSSSWK......",
    "KWWWWWWSSSSSSSSSWK......",
    "KWLLLWWSSSSSSSSgWK......",
    "KWWWWWWGSSSSSgggWK......",
    "KWLLLLWGGGSSgggGWK......",
    "KWWWWWWWWWWWWWWWWK......",
    "KKKKKKKKKKKKKKKKKK......",
    "........................",
    "........................",
    "........................",
    "........................",
    "........................",
    "........................",
]

# The glass of the 24-pixel icon: a dark outline, a metal rim lit from the top left,
# and behind the glass the picture's sun and hill, enlarged.
_GLASS24 = [
    "...KKKK...",
    ".KKMMMMKK.",
    ".KMsCCsmK.",
    "KMsCYYCsmK",
    "KMsYYYYsmK",
    "KMgsYYsgmK",
    "KMggggGGmK",
    ".KmGGGGmK.",
    ".KKmmmmKK.",
    "...KKKKhh.",
]

_HANDLE24 = [
    "Khh...",
    "KHHh..",
    ".KHHh.",
    "..KHHh",
    "...KHH",
    "....KK",
]



ICON24 = overlay(overlay(_WINDOW24, _GLASS24, 9, 9), _HANDLE24, 17, 18)


def from_grid(grid):
    rows = []
    for line in grid:
        assert len(line) == len(grid), f"{len(grid)} columns: {line!r}"
        rows.append([(0, 0, 0, 0) if ch == "." else LETTERS[ch] + (255,) for ch in line])
    return rows


# ----------------------------------------------------------------------------- from shapes

def shape_icon(size):
    """The icon at `size` (32 and up). Positions are laid out on a grid of 48 and put on
    whole pixels of this size, so that every straight edge is sharp."""
    k = size / 48.0
    detail = size >= 64

    def px(v):
        return round(v * k)

    def width(v):
        return max(1, round(v * k))

    s = Scene(size, size)
    # the window
    x0, y0, x1, y1 = px(2), px(5), px(40), px(38)
    border = width(1.2)
    radius = 2.0 * k if detail else 0.0
    if detail:
        off = max(1, round(1.5 * k))
        s.add(Rect(x0 + off, y0 + off, x1 + off, y1 + off, radius=radius + off), (0, 0, 30), 0.28)
    s.add(Rect(x0, y0, x1, y1, radius=radius), FRAME)
    title_bottom = y0 + max(border + 3, px(8.5))
    bx0, bx1 = x0 + border, x1 - border
    title = gradient([(0, TITLE_LIGHT), (1, TITLE)], (0, y0), (0, title_bottom)) if detail else TITLE
    s.add(Rect(bx0, y0 + border, bx1, title_bottom, radius=max(0.0, radius - border)), title)
    if not detail:
        s.add(Rect(bx0, y0 + border, bx1, y0 + border + 1), TITLE_LIGHT)
    # the close box of the title bar
    box = max(2, px(3.5))
    s.add(Rect(bx1 - width(1.5) - box, y0 + border + (title_bottom - y0 - border - box) // 2,
               bx1 - width(1.5), y0 + border + (title_bottom - y0 - border - box) // 2 + box), PAPER)
    s.add(Rect(bx0, title_bottom, bx1, title_bottom + border), FRAME)
    body_top = title_bottom + border
    s.add(Rect(bx0, body_top, bx1, y1 - border, radius=0), PAPER)
    # lines of text on the left
    line_h = width(1.6)
    step = max(line_h + 2, px(4.5))
    lx0 = bx0 + max(2, px(2.5))
    lx1 = px(15)
    y = body_top + max(2, px(3))
    for frac in (1.0, 0.7, 0.9, 0.6, 0.85, 0.75):
        if y + line_h > y1 - border - max(2, px(2)):
            break
        s.add(Rect(lx0, y, lx0 + max(2, round((lx1 - lx0) * frac)), y + line_h), LINE)
        y += step
    # the picture on the right: sky, a sun and two hills
    p0x, p0y, p1x, p1y = px(17), body_top + max(2, px(3)), bx1 - max(2, px(2.5)), y1 - border - max(2, px(2.5))
    picture = Rect(p0x, p0y, p1x, p1y)
    sky = gradient([(0, SKY), (1, SKY_LIGHT)], (0, p0y), (0, p1y)) if detail else SKY
    s.add(picture, sky)
    pw, ph = p1x - p0x, p1y - p0y
    # the sun sits under the glass, which shows it enlarged
    s.add(Clipped(Ellipse(29.6 * k, 25.6 * k, 2.3 * k), picture), SUN)
    s.add(Clipped(Ellipse(p0x + pw * 0.95, p1y + ph * 0.35, pw * 0.62, ph * 0.62), picture),
          HILL_LIGHT)
    s.add(Clipped(Ellipse(p0x + pw * 0.2, p1y + ph * 0.45, pw * 0.62, ph * 0.75), picture), HILL)
    if size >= 32:
        s.add(Rect(p0x, p0y, p1x, p0y + max(1, px(0.6))), FRAME, 0.25)

    # the magnifying glass over the picture's lower left
    cx, cy = px(27) + (0.5 if size < 64 else 0.0), px(28.5) + (0.5 if size < 64 else 0.0)
    r = 8.0 * k
    rim = max(1.6, 2.6 * k)
    outline = max(1.0, 0.9 * k)
    a = math.radians(45)
    ux, uy = math.cos(a), math.sin(a)
    handle_w = max(3.0, 5.0 * k)
    hx0, hy0 = cx + ux * (r + rim * 0.5), cy + uy * (r + rim * 0.5)
    hx1, hy1 = cx + ux * px(18.5), cy + uy * px(18.5)
    if detail:
        sh = 1.2 * k
        s.add(Capsule(hx0 + sh, hy0 + sh, hx1 + sh, hy1 + sh, handle_w), (0, 0, 30), 0.28)
        s.add(Ring(cx + sh, cy + sh, r + rim + outline, r), (0, 0, 30), 0.28)
    s.add(Capsule(hx0, hy0, hx1, hy1, handle_w + 2 * outline), FRAME)
    s.add(Capsule(hx0, hy0, hx1, hy1, handle_w), HANDLE)
    if size >= 48:
        nx, ny = -uy, ux
        off = handle_w * 0.2
        s.add(Capsule(hx0 + ux * rim - nx * off, hy0 + uy * rim - ny * off,
                      hx1 - ux * handle_w * 0.4 - nx * off, hy1 - uy * handle_w * 0.4 - ny * off,
                      max(1.0, handle_w * 0.26)), HANDLE_LIGHT)
    # a metal collar where the handle meets the rim
    collar = r + rim + 3.2 * k
    s.add(Capsule(cx + ux * r, cy + uy * r, cx + ux * collar, cy + uy * collar, handle_w * 1.1 + 2 * outline),
          FRAME)
    s.add(Capsule(cx + ux * r, cy + uy * r, cx + ux * collar, cy + uy * collar, handle_w * 1.1),
          gradient([(0, RIM), (1, RIM_DARK)], (cx - uy * handle_w, cy + ux * handle_w * -1),
                   (cx + uy * handle_w, cy - ux * handle_w * -1)))

    below = len(s.layers)
    zoom = 1.7

    def lens(x, y):
        c = s.sample(cx + (x - cx) / zoom, cy + (y - cy) / zoom, below=below)
        base = c[:3] if c[3] > 0 else PAPER
        shaded = lerp(base, GLASS, 0.22)
        if not detail:
            return shaded
        d = math.hypot(x - cx, y - cy) / r
        return lerp(shaded, WHITE, max(0.0, (d - 0.7) * 1.2) * 0.45)

    s.add(Ellipse(cx, cy, r), lens)
    if detail:
        s.add(Clipped(Ring(cx, cy, r * 0.78, r * 0.6),
                      Polygon([(cx - r, cy - r), (cx - r * 0.05, cy - r), (cx - r, cy - r * 0.05)])),
              WHITE, 0.7)
    s.add(Ring(cx, cy, r + rim + outline, r + rim), FRAME)
    rim_paint = gradient([(0, WHITE if detail else RIM), (0.5, RIM), (1, RIM_DARK)],
                         (cx - r, cy - r), (cx + r, cy + r))
    s.add(Ring(cx, cy, r + rim, r), rim_paint)
    s.add(Ring(cx, cy, r + min(outline, 0.8 * k + 0.3), r), FRAME, 0.7)
    return s.render(ss=4 if size <= 128 else 3)


def to_bytes(pixels):
    return [[(round(r), round(g), round(b), round(a * 255)) for r, g, b, a in row] for row in pixels]


def app_icon(size):
    """Rows of (r, g, b, a) bytes of the icon at `size`."""
    if size == 16:
        return from_grid(ICON16)
    if size == 24:
        return from_grid(ICON24)
    return to_bytes(shape_icon(size))
