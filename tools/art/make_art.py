#!/usr/bin/env python3
"""Draws the program's own art and writes it into assets/:

  wizard.gif        164 x 314, 8 colours: the tall picture of the first and last pages
  logo.gif          49 x 49, 8 colours: the picture in the header band
  harvix.ico        16, 32 and 48 pixels, 16 colours: the window icon
  kind-*.png        16 x 16, 16 colours: one icon per resource kind
  FINDFILES.avi     48 x 50, RLE8, 23 frames at 7 per second: the search animation
  app-icon-N.png    N x N for N = 16, 24, 32, 48, 64, 128, 256, full colour: the
                    application icon installed into the hicolor icon theme

Run by hand after changing a picture:  python3 tools/art/make_art.py [--preview DIR]
With --preview, enlarged PNG copies of everything (and a contact sheet of the clip's
frames) are written to DIR for looking at.
"""

import argparse
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from encoders import write_avi_rle8, write_gif, write_ico, write_png_indexed, write_png_rgba  # noqa: E402
from raster import (Capsule, Clipped, Ellipse, Everywhere, Polygon, Rect, Ring, Rotated,  # noqa: E402
                    Scene, gradient, lerp, quantize, to_rgba)
from pixelart import KIND_ICONS, ICON16, VGA, parse_grid  # noqa: E402
import app_icon  # noqa: E402

WHITE = (255, 255, 255)
BLACK = (0, 0, 0)
NAVY = (0, 0, 128)
SILVER = (192, 192, 192)
GREY = (128, 128, 128)


# ----------------------------------------------------------------------------- motifs

def add_document(scene, x, y, w, h, angle=0.0, fold=None, lines=True, header=(40, 90, 190),
                 line_colour=(150, 150, 160), shadow=0.3, outline=(110, 110, 120), seed=0,
                 picture=None):
    """A sheet of paper with a folded corner and a few lines of text, turned by `angle`."""
    cx, cy = x + w / 2, y + h / 2
    fold = fold if fold is not None else w * 0.22

    def turned(shape):
        return Rotated(shape, angle, cx, cy) if angle else shape

    def sheet(grow):
        return Polygon([(x - grow, y - grow), (x + w - fold + grow * 0.4, y - grow),
                        (x + w + grow, y + fold - grow * 0.4), (x + w + grow, y + h + grow),
                        (x - grow, y + h + grow)])

    if shadow:
        off = max(1.0, w * 0.05)
        scene.add(turned(Polygon([(px + off, py + off) for px, py in sheet(0).points])), (0, 0, 40), shadow)
    scene.add(turned(sheet(max(0.6, w * 0.018))), outline)
    scene.add(turned(sheet(0)), gradient([(0, (255, 255, 255)), (1, (226, 230, 238))], (x, y), (x + w, y + h)))
    scene.add(turned(Polygon([(x + w - fold, y), (x + w - fold, y + fold), (x + w, y + fold)])),
              gradient([(0, (200, 204, 212)), (1, (150, 154, 165))], (x + w - fold, y + fold), (x + w, y)))
    if not lines:
        return
    margin = w * 0.14
    line_h = max(1.0, h * 0.035)
    step = max(line_h * 2.2, h * 0.085)
    top = y + fold + step * 0.5
    # a heading in colour, then lines of text of varied length
    scene.add(turned(Rect(x + margin, y + fold * 0.45, x + w - fold - margin * 0.5, y + fold * 0.45 + line_h * 1.4)),
              header)
    lengths = [0.92, 0.78, 0.88, 0.55, 0.95, 0.84, 0.67, 0.9, 0.73, 0.86, 0.6, 0.93]
    k = seed
    yy = top
    pic_rows = set()
    if picture is not None:
        px0, py0, px1, py1 = picture
        scene.add(turned(Rect(x + w * px0, y + h * py0, x + w * px1, y + h * py1)), (70, 110, 200))
        scene.add(turned(Polygon([(x + w * px0, y + h * py1), (x + w * (px0 + px1) / 2, y + h * (py0 + py1 * 1.4) / 2.4),
                                  (x + w * px1, y + h * py1)])), (40, 140, 70))
        scene.add(turned(Ellipse(x + w * (px0 * 0.3 + px1 * 0.7), y + h * (py0 * 0.7 + py1 * 0.3), w * 0.05)),
                  (250, 220, 60))
        pic_rows = (y + h * py0 - line_h, y + h * py1 + line_h)
    while yy + line_h < y + h - margin * 0.6:
        frac = lengths[k % len(lengths)]
        k += 1
        x0 = x + margin
        x1 = x + margin + (w - 2 * margin) * frac
        if pic_rows and pic_rows[0] <= yy <= pic_rows[1]:
            x0 = x + w * picture[2] + margin * 0.5
            x1 = max(x1, x0 + 2)
        if x1 > x0 + 1:
            scene.add(turned(Rect(x0, yy, x1, yy + line_h)), line_colour)
        yy += step


def add_magnifier(scene, cx, cy, r, rim, handle_len, handle_w, angle=45.0, zoom=1.8,
                  tint=(200, 225, 255), tint_amount=0.25, dark=(20, 20, 30), handle_colour=(40, 40, 50),
                  handle_light=(120, 120, 135), rim_light=(250, 250, 255), rim_dark=(120, 125, 140),
                  shadow=0.3):
    """A magnifying glass: the lens shows what lies below it enlarged, with a metal rim
    and a handle pointing away at `angle` degrees (0 = right, 90 = down)."""
    a = math.radians(angle)
    ux, uy = math.cos(a), math.sin(a)
    hx0, hy0 = cx + ux * (r + rim * 0.6), cy + uy * (r + rim * 0.6)
    hx1, hy1 = cx + ux * (r + rim + handle_len), cy + uy * (r + rim + handle_len)
    # drop shadow of the whole glass
    if shadow:
        sh = max(1.0, r * 0.12)
        scene.add(Ring(cx + sh, cy + sh, r + rim, r), (20, 20, 20), shadow)
        scene.add(Capsule(hx0 + sh, hy0 + sh, hx1 + sh, hy1 + sh, handle_w), (20, 20, 20), shadow)
    # handle: a dark grip with a light edge, and a metal collar next to the rim
    scene.add(Capsule(hx0, hy0, hx1, hy1, handle_w + max(0.8, handle_w * 0.12)), dark)
    scene.add(Capsule(hx0, hy0, hx1, hy1, handle_w), handle_colour)
    nx, ny = -uy, ux
    off = handle_w * 0.22
    scene.add(Capsule(hx0 + ux * handle_w - nx * off, hy0 + uy * handle_w - ny * off,
                      hx1 - ux * handle_w * 0.5 - nx * off, hy1 - uy * handle_w * 0.5 - ny * off,
                      max(0.7, handle_w * 0.28)), handle_light)
    collar = r + rim + handle_len * 0.22
    scene.add(Capsule(hx0, hy0, cx + ux * collar, cy + uy * collar, handle_w * 1.05),
              gradient([(0, rim_light), (1, rim_dark)], (cx - nx * handle_w, cy - ny * handle_w),
                       (cx + nx * handle_w, cy + ny * handle_w)))

    below = len(scene.layers)

    def lens(x, y):
        c = scene.sample(cx + (x - cx) / zoom, cy + (y - cy) / zoom, below=below)
        base = c[:3] if c[3] > 0 else (0, 0, 0)
        if c[3] < 1:
            base = lerp(tint, base, c[3])
        shaded = lerp(base, tint, tint_amount)
        # a soft, lighter rim of the glass towards the top left
        d = math.hypot(x - cx, y - cy) / r
        return lerp(shaded, WHITE, max(0.0, (d - 0.75) * 1.2) * 0.5)

    scene.add(Ellipse(cx, cy, r), lens)
    # glint
    scene.add(Clipped(Ring(cx, cy, r * 0.8, r * 0.62), Polygon([(cx - r, cy - r), (cx - r * 0.05, cy - r),
                                                                 (cx - r, cy - r * 0.05)])), WHITE, 0.75)
    # rim: outline, metal ring lit from the top left
    scene.add(Ring(cx, cy, r + rim + max(0.7, rim * 0.25), r + rim), dark)
    scene.add(Ring(cx, cy, r + rim, r), gradient([(0, rim_light), (0.5, (200, 205, 215)), (1, rim_dark)],
                                                 (cx - r, cy - r), (cx + r, cy + r)))
    scene.add(Ring(cx, cy, r + max(0.5, rim * 0.2), r), dark, 0.6)


def add_sparkle(scene, x, y, size, colour=WHITE, opacity=1.0):
    t = size * 0.18
    scene.add(Polygon([(x, y - size), (x + t, y - t), (x + size, y), (x + t, y + t), (x, y + size),
                       (x - t, y + t), (x - size, y), (x - t, y - t)]), colour, opacity)


# ----------------------------------------------------------------------------- wizard picture

WIZARD_PALETTE = [NAVY, WHITE, SILVER, GREY, BLACK, (40, 80, 180), (120, 160, 225), (218, 228, 246)]


def wizard():
    w, h = 164, 314
    s = Scene(w, h)
    s.add(Everywhere(), gradient([(0.0, (0, 0, 110)), (0.45, (30, 70, 175)), (0.72, (110, 150, 222)),
                                  (0.86, (215, 226, 246)), (1.0, WHITE)], (0, 0), (20, h)))
    # soft light behind the glass
    dy = 22
    s.add(Ellipse(96, 150 + dy, 70), (120, 160, 225), 0.25)
    s.add(Ellipse(96, 150 + dy, 48), (150, 185, 235), 0.25)
    add_document(s, 18, 68 + dy, 72, 94, angle=-14, seed=3, shadow=0.35, line_colour=GREY)
    add_document(s, 36, 82 + dy, 72, 94, angle=-3, seed=5, shadow=0.35, header=(30, 60, 150), line_colour=GREY)
    add_document(s, 54, 98 + dy, 72, 94, angle=8, seed=1, shadow=0.35, picture=(0.14, 0.34, 0.5, 0.56),
                 line_colour=GREY)
    add_magnifier(s, 92, 150 + dy, 31, 6, 40, 12, angle=52, zoom=1.7)
    add_sparkle(s, 40, 54 + dy, 7)
    add_sparkle(s, 140, 78 + dy, 5)
    add_sparkle(s, 134, 212 + dy, 4, opacity=0.9)
    add_sparkle(s, 24, 196 + dy, 3, opacity=0.8)
    add_sparkle(s, 120, 30, 3, opacity=0.7)
    pixels = s.render(ss=4)
    return quantize(pixels, WIZARD_PALETTE, dither=26), WIZARD_PALETTE


# ----------------------------------------------------------------------------- logo and window icon

def program_window_scene(size, few_colours=False):
    """A program window with a magnifying glass over it, drawn in a square of `size`.
    With `few_colours` the picture keeps to flat colours that a 16-colour palette holds."""
    u = size / 48.0
    s = Scene(size, size)
    x0, y0, x1, y1 = 2 * u, 4 * u, 38 * u, 36 * u
    if not few_colours:
        s.add(Rect(x0 + 2 * u, y0 + 2 * u, x1 + 2 * u, y1 + 2 * u, radius=2 * u), (60, 60, 60), 0.35)
    s.add(Rect(x0, y0, x1, y1, radius=1.5 * u), (20, 20, 30))
    s.add(Rect(x0 + u, y0 + u, x1 - u, y1 - u), WHITE)
    title = (0, 0, 128) if few_colours else gradient([(0, (0, 0, 128)), (1, (0, 64, 216))], (x0, 0), (x1, 0))
    s.add(Rect(x0 + u, y0 + u, x1 - u, y0 + 8 * u), title)
    s.add(Rect(x1 - 7 * u, y0 + 2.5 * u, x1 - 2.5 * u, y0 + 6.5 * u), SILVER)
    s.add(Rect(x0 + u, y0 + 8 * u, x1 - u, y0 + 9 * u), GREY)
    for i, frac in enumerate([0.8, 0.55, 0.9, 0.5]):
        yy = y0 + 12.5 * u + i * 5 * u
        s.add(Rect(x0 + 4 * u, yy, x0 + 4 * u + (x1 - x0 - 8 * u) * frac, yy + 2.2 * u), GREY)
    if few_colours:
        add_magnifier(s, 29 * u, 27.5 * u, 10.5 * u, 3 * u, 10 * u, 5.5 * u, angle=45, zoom=1.6,
                      tint=(255, 255, 255), tint_amount=0.0, dark=BLACK, handle_colour=(0, 0, 0),
                      handle_light=GREY, rim_light=WHITE, rim_dark=GREY, shadow=0)
    else:
        add_magnifier(s, 29 * u, 27.5 * u, 10.5 * u, 2.8 * u, 10.5 * u, 5.2 * u, angle=45, zoom=1.6,
                      tint=(170, 200, 250), tint_amount=0.3, shadow=0.3)
    return s


LOGO_PALETTE = [BLACK, (0, 64, 216), GREY, SILVER, WHITE, (0, 0, 128), (150, 185, 240), (255, 0, 255)]
LOGO_TRANSPARENT = 7


def logo():
    # the logo sits in a band of window colour; transparent around the picture
    s = program_window_scene(49)
    pixels = s.render(ss=4)
    return quantize(pixels, LOGO_PALETTE, dither=0, transparent=LOGO_TRANSPARENT,
                    background=(255, 255, 255), alpha_cut=0.45)


def window_icon_images():
    images = []
    for size in (16, 32, 48):
        if size == 16:
            rows = parse_grid(ICON16)
        else:
            pixels = program_window_scene(size, few_colours=True).render(ss=4)
            rows = quantize(pixels, VGA, dither=0, transparent=None,
                            background=(255, 255, 255))
            rows = [[(-1 if pixels[y][x][3] < 0.45 else v) for x, v in enumerate(row)]
                    for y, row in enumerate(rows)]
        mask = [[1 if v < 0 else 0 for v in row] for row in rows]
        rows = [[0 if v < 0 else v for v in row] for row in rows]
        images.append((rows, mask))
    return images


# ----------------------------------------------------------------------------- search animation

CLIP_BACKGROUND = (240, 240, 240)
CLIP_FRAMES = 23


def clip_palette():
    pal = [CLIP_BACKGROUND]  # first, so that a player keying on a colour finds it at 0
    for i in range(16):  # greys
        v = round(i * 255 / 15)
        pal.append((v, v, v))
    for i in range(12):  # blues, from navy to pale
        t = i / 11
        pal.append(tuple(round(c) for c in lerp((0, 20, 110), (215, 230, 255), t)))
    for i in range(8):  # glass tints over paper
        t = i / 7
        pal.append(tuple(round(c) for c in lerp((150, 170, 200), (235, 243, 255), t)))
    pal += [(40, 140, 70), (250, 220, 60), (200, 204, 212), (226, 230, 238)]
    return pal


def clip_frames():
    pal = clip_palette()
    frames = []
    for i in range(CLIP_FRAMES):
        t = 2 * math.pi * i / CLIP_FRAMES
        s = Scene(48, 50)
        s.add(Everywhere(), CLIP_BACKGROUND)
        add_document(s, 5, 6, 26, 34, angle=-6, seed=2, shadow=0.25, fold=7)
        add_document(s, 12, 10, 26, 34, angle=3, seed=4, shadow=0.25, fold=7, picture=(0.15, 0.3, 0.5, 0.5))
        # the glass circles over the pages, a little wider than high
        cx = 23 + 8 * math.cos(t)
        cy = 22 + 6 * math.sin(t)
        add_magnifier(s, cx, cy, 8.2, 2.0, 9, 4.2, angle=48, zoom=1.7, tint=(200, 222, 255), tint_amount=0.2)
        pixels = s.render(ss=4)
        frames.append(quantize(pixels, pal, dither=6, background=CLIP_BACKGROUND))
    # the background colour must be the first pixel, so that a transparent player keys on it
    assert frames[0][0][0] == 0
    return frames, pal


# ----------------------------------------------------------------------------- main

def contact_sheet(frames, palette, scale):
    h = len(frames[0])
    w = len(frames[0][0])
    cols = 6
    rows_n = (len(frames) + cols - 1) // cols
    sheet = [[(255, 255, 255, 255)] * ((w + 2) * cols * scale) for _ in range((h + 2) * rows_n * scale)]
    for n, frame in enumerate(frames):
        big = to_rgba(frame, palette, scale=scale)
        ox = (n % cols) * (w + 2) * scale
        oy = (n // cols) * (h + 2) * scale
        for y, line in enumerate(big):
            sheet[oy + y][ox:ox + len(line)] = line
    return sheet


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(here, "..", "..", "assets"))
    parser.add_argument("--preview", help="folder for enlarged PNG previews")
    parser.add_argument("--only", help="comma-separated subset: wizard,logo,icon,kinds,clip,appicon")
    args = parser.parse_args()
    out = os.path.abspath(args.out)
    only = set(args.only.split(",")) if args.only else {"wizard", "logo", "icon", "kinds", "clip", "appicon"}
    if args.preview:
        os.makedirs(args.preview, exist_ok=True)

    def preview(name, rows, palette, transparent=None, scale=4):
        if args.preview:
            write_png_rgba(os.path.join(args.preview, name + ".png"), to_rgba(rows, palette, transparent, scale))

    if "wizard" in only:
        rows, pal = wizard()
        write_gif(os.path.join(out, "wizard.gif"), rows, pal)
        preview("wizard", rows, pal, scale=2)
    if "logo" in only:
        rows = logo()
        write_gif(os.path.join(out, "logo.gif"), rows, LOGO_PALETTE, transparent=LOGO_TRANSPARENT)
        preview("logo", rows, LOGO_PALETTE, LOGO_TRANSPARENT, scale=6)
    if "icon" in only:
        images = window_icon_images()
        write_ico(os.path.join(out, "harvix.ico"), images, VGA)
        for rows, mask in images:
            shown = [[-1 if m else v for v, m in zip(r, mr)] for r, mr in zip(rows, mask)]
            shown = [[16 if v < 0 else v for v in r] for r in shown]
            preview(f"icon{len(rows)}", shown, VGA + [(255, 0, 255)], 16, scale=8)
    if "kinds" in only:
        for key, grid in KIND_ICONS.items():
            rows = parse_grid(grid)
            rows = [[16 if v < 0 else v for v in r] for r in rows]
            write_png_indexed(os.path.join(out, f"kind-{key}.png"), rows, VGA + [(192, 192, 192)], transparent=16)
            preview(f"kind-{key}", rows, VGA + [(255, 0, 255)], 16, scale=8)
    if "appicon" in only:
        for size in app_icon.SIZES:
            pixels = app_icon.app_icon(size)
            write_png_rgba(os.path.join(out, f"app-icon-{size}.png"), pixels)
            if args.preview:
                scale = max(1, 256 // size)
                big = [[p for p in row for _ in range(scale)] for row in pixels for _ in range(scale)]
                write_png_rgba(os.path.join(args.preview, f"app-icon-{size}.png"), big)
    if "clip" in only:
        frames, pal = clip_frames()
        size = write_avi_rle8(os.path.join(out, "FINDFILES.avi"), frames, pal, 48, 50,
                              usec_per_frame=142857, rate=7, scale=1)
        print(f"FINDFILES.avi: {size} bytes, {len(frames)} frames, {len(pal)} colours")
        if args.preview:
            write_png_rgba(os.path.join(args.preview, "clip.png"), contact_sheet(frames, pal, 3))


if __name__ == "__main__":
    main()
