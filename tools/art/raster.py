"""A small supersampling rasteriser for the program's art: shapes with solid or
computed paint, stacked in layers, rendered to RGBA and then reduced to a fixed palette
(nearest colour, with optional ordered dithering)."""

import math


# ----------------------------------------------------------------------------- shapes

class Shape:
    bbox = (-1e9, -1e9, 1e9, 1e9)

    def contains(self, x, y):
        raise NotImplementedError


class Rect(Shape):
    def __init__(self, x0, y0, x1, y1, radius=0.0):
        self.x0, self.y0, self.x1, self.y1, self.r = x0, y0, x1, y1, radius
        self.bbox = (x0, y0, x1, y1)

    def contains(self, x, y):
        if not (self.x0 <= x < self.x1 and self.y0 <= y < self.y1):
            return False
        r = self.r
        if r <= 0:
            return True
        cx = min(max(x, self.x0 + r), self.x1 - r)
        cy = min(max(y, self.y0 + r), self.y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


class Ellipse(Shape):
    def __init__(self, cx, cy, rx, ry=None):
        ry = rx if ry is None else ry
        self.cx, self.cy, self.rx, self.ry = cx, cy, rx, ry
        self.bbox = (cx - rx, cy - ry, cx + rx, cy + ry)

    def contains(self, x, y):
        dx = (x - self.cx) / self.rx
        dy = (y - self.cy) / self.ry
        return dx * dx + dy * dy <= 1.0


class Ring(Shape):
    def __init__(self, cx, cy, outer, inner):
        self.cx, self.cy, self.o2, self.i2 = cx, cy, outer * outer, inner * inner
        self.bbox = (cx - outer, cy - outer, cx + outer, cy + outer)

    def contains(self, x, y):
        d = (x - self.cx) ** 2 + (y - self.cy) ** 2
        return self.i2 <= d <= self.o2


class Capsule(Shape):
    """A thick line with round ends."""

    def __init__(self, x0, y0, x1, y1, width):
        self.p = (x0, y0, x1, y1)
        self.r = width / 2.0
        r = self.r
        self.bbox = (min(x0, x1) - r, min(y0, y1) - r, max(x0, x1) + r, max(y0, y1) + r)

    def contains(self, x, y):
        x0, y0, x1, y1 = self.p
        dx, dy = x1 - x0, y1 - y0
        length2 = dx * dx + dy * dy
        t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        px, py = x0 + t * dx, y0 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= self.r * self.r


class Polygon(Shape):
    def __init__(self, points):
        self.points = list(points)
        xs = [p[0] for p in self.points]
        ys = [p[1] for p in self.points]
        self.bbox = (min(xs), min(ys), max(xs), max(ys))

    def contains(self, x, y):
        inside = False
        pts = self.points
        j = len(pts) - 1
        for i in range(len(pts)):
            xi, yi = pts[i]
            xj, yj = pts[j]
            if (yi > y) != (yj > y):
                xcross = xi + (y - yi) * (xj - xi) / (yj - yi)
                if x < xcross:
                    inside = not inside
            j = i
        return inside


class Rotated(Shape):
    """A shape turned by `degrees` around (cx, cy)."""

    def __init__(self, shape, degrees, cx, cy):
        self.shape, self.cx, self.cy = shape, cx, cy
        a = math.radians(degrees)
        self.c, self.s = math.cos(a), math.sin(a)
        x0, y0, x1, y1 = shape.bbox
        corners = [self._forward(px, py) for px, py in ((x0, y0), (x1, y0), (x0, y1), (x1, y1))]
        self.bbox = (min(p[0] for p in corners), min(p[1] for p in corners),
                     max(p[0] for p in corners), max(p[1] for p in corners))

    def _forward(self, x, y):
        dx, dy = x - self.cx, y - self.cy
        return self.cx + dx * self.c - dy * self.s, self.cy + dx * self.s + dy * self.c

    def contains(self, x, y):
        dx, dy = x - self.cx, y - self.cy
        return self.shape.contains(self.cx + dx * self.c + dy * self.s, self.cy - dx * self.s + dy * self.c)


class Clipped(Shape):
    """The part of `shape` inside `clip` (and outside `hole`, if given)."""

    def __init__(self, shape, clip=None, hole=None):
        self.shape, self.clip, self.hole = shape, clip, hole
        b = shape.bbox
        if clip is not None:
            c = clip.bbox
            b = (max(b[0], c[0]), max(b[1], c[1]), min(b[2], c[2]), min(b[3], c[3]))
        self.bbox = b

    def contains(self, x, y):
        if not self.shape.contains(x, y):
            return False
        if self.clip is not None and not self.clip.contains(x, y):
            return False
        return self.hole is None or not self.hole.contains(x, y)


class Everywhere(Shape):
    def contains(self, x, y):
        return True


# ----------------------------------------------------------------------------- paint

def lerp(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def gradient(stops, axis_from, axis_to):
    """Linear gradient between the points axis_from and axis_to; stops are (t, rgb)."""
    (ax, ay), (bx, by) = axis_from, axis_to
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy

    def paint(x, y):
        t = ((x - ax) * dx + (y - ay) * dy) / length2
        if t <= stops[0][0]:
            return stops[0][1]
        for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
            if t <= t1:
                return lerp(c0, c1, (t - t0) / (t1 - t0))
        return stops[-1][1]

    return paint


# ----------------------------------------------------------------------------- scene

class Scene:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.layers = []  # (shape, paint, opacity)

    def add(self, shape, paint, opacity=1.0):
        self.layers.append((shape, paint, opacity))
        return len(self.layers) - 1

    def sample(self, x, y, below=None):
        """Colour and coverage at one point, from the layers under index `below`."""
        top = len(self.layers) if below is None else below
        colour = None
        weight = 1.0
        acc = [0.0, 0.0, 0.0]
        alpha = 0.0
        for i in range(top - 1, -1, -1):
            shape, paint, opacity = self.layers[i]
            b = shape.bbox
            if not (b[0] <= x <= b[2] and b[1] <= y <= b[3]) or not shape.contains(x, y):
                continue
            colour = paint(x, y) if callable(paint) else paint
            if callable(paint) and len(colour) == 4:
                opacity = opacity * colour[3]
                colour = colour[:3]
            for k in range(3):
                acc[k] += weight * opacity * colour[k]
            alpha += weight * opacity
            weight *= 1.0 - opacity
            if weight <= 1e-6:
                break
        if alpha <= 0:
            return (0.0, 0.0, 0.0, 0.0)
        return (acc[0] / alpha, acc[1] / alpha, acc[2] / alpha, alpha)

    def render(self, ss=4):
        """Rows of (r, g, b, a) floats, a in 0..1, averaged over ss x ss samples."""
        rows = []
        offsets = [(i + 0.5) / ss for i in range(ss)]
        for py in range(self.height):
            row = []
            for px in range(self.width):
                r = g = b = a = 0.0
                for oy in offsets:
                    for ox in offsets:
                        cr, cg, cb, ca = self.sample(px + ox, py + oy)
                        r += cr * ca
                        g += cg * ca
                        b += cb * ca
                        a += ca
                n = ss * ss
                if a > 0:
                    row.append((r / a, g / a, b / a, a / n))
                else:
                    row.append((0.0, 0.0, 0.0, 0.0))
            rows.append(row)
        return rows


# ----------------------------------------------------------------------------- palette

BAYER4 = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def quantize(pixels, palette, dither=0.0, transparent=None, background=None, alpha_cut=0.5):
    """Maps RGBA pixels to palette indices. Pixels below alpha_cut become `transparent`;
    partly covered pixels are blended over `background` first (if given). `dither` is the
    strength of the ordered dither, in colour units."""
    cache = {}

    def nearest(c):
        key = (int(c[0]) >> 1, int(c[1]) >> 1, int(c[2]) >> 1)
        hit = cache.get(key)
        if hit is not None:
            return hit
        best, best_d = 0, 1e18
        for i, p in enumerate(palette):
            if i == transparent:
                continue
            # weighted distance (the eye is most sensitive to green), plus a penalty for a
            # change of colourfulness, so that dark greys do not turn navy
            chroma = (max(c) - min(c)) - (max(p) - min(p))
            d = 3 * (c[0] - p[0]) ** 2 + 4 * (c[1] - p[1]) ** 2 + 2 * (c[2] - p[2]) ** 2 + 2 * chroma * chroma
            if d < best_d:
                best, best_d = i, d
        cache[key] = best
        return best

    exact = {tuple(p): i for i, p in enumerate(palette) if i != transparent}
    out = []
    for y, row in enumerate(pixels):
        line = []
        for x, (r, g, b, a) in enumerate(row):
            if a < alpha_cut and transparent is not None:
                line.append(transparent)
                continue
            if background is not None and a < 1.0:
                r, g, b = (r * a + background[0] * (1 - a), g * a + background[1] * (1 - a),
                           b * a + background[2] * (1 - a))
            hit = exact.get((round(r), round(g), round(b))) if a >= 1.0 else None
            if hit is not None and abs(r - round(r)) + abs(g - round(g)) + abs(b - round(b)) < 1e-6:
                line.append(hit)  # flat areas of a palette colour stay flat
                continue
            if dither:
                d = (BAYER4[y % 4][x % 4] / 16.0 - 0.5) * dither
                r, g, b = r + d, g + d, b + d
            line.append(nearest((min(255, max(0, r)), min(255, max(0, g)), min(255, max(0, b)))))
        out.append(line)
    return out


def to_rgba(indices, palette, transparent=None, scale=1):
    """Indexed rows back to RGBA bytes, enlarged `scale` times, for preview PNGs."""
    rows = []
    for row in indices:
        line = []
        for v in row:
            if v == transparent:
                px = (255, 0, 255, 0)
            else:
                px = tuple(palette[v]) + (255,)
            line.extend([px] * scale)
        for _ in range(scale):
            rows.append(line)
    return rows
