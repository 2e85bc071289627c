"""The 16 x 16 pictures, drawn pixel by pixel: at this size a hand-placed pixel reads
better than anything scaled down. One letter per pixel, in the 16-colour palette:

  K black   R maroon  G green   O olive   N navy   P purple  T teal    S silver
  D grey    r red     g lime    y yellow  B blue   m fuchsia c aqua    W white
  . transparent
"""

VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
       (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
       (255, 0, 255), (0, 255, 255), (255, 255, 255)]

LETTERS = "KRGONPTSDrgyBmcW"


def parse_grid(grid):
    """Palette indices, -1 for transparent."""
    assert len(grid) == 16, "16 rows"
    rows = []
    for line in grid:
        assert len(line) == 16, f"16 columns: {line!r}"
        rows.append([-1 if ch == "." else LETTERS.index(ch) for ch in line])
    return rows


def overlay(base, top, dx, dy):
    """`top` drawn over `base` at (dx, dy); dots in `top` let the base show through."""
    out = [list(line) for line in base]
    for y, line in enumerate(top):
        for x, ch in enumerate(line):
            if ch != ".":
                out[dy + y][dx + x] = ch
    return ["".join(line) for line in out]


_MAGNIFIER = [
    "..KKK......",
    ".KWWcK.....",
    "KWccccK....",
    "KWccccK....",
    "KccccSK....",
    ".KccSKK....",
    "..KKKKDK...",
    "......KDK..",
    ".......KDK.",
    "........KK.",
]

_WINDOW = [
    "................",
    "KKKKKKKKKKKK....",
    "KBBBBBBBBBWK....",
    "KKKKKKKKKKKK....",
    "KWWWWWWWWWWK....",
    "KWDDDDDDWWWK....",
    "KWWWWWWWWWWK....",
    "KWDDDDDWWWWK....",
    "KWWWWWWWWWWK....",
    "KWDDDDDDDWWK....",
    "KWWWWWWWWWWK....",
    "KWDDDDWWWWWK....",
    "KWWWWWWWWWWK....",
    "KKKKKKKKKKKK....",
    "................",
    "................",
]

ICON16 = overlay(_WINDOW, _MAGNIFIER, 6, 6)

_BITMAP = [
    "................",
    "KKKKKKKKKKKKKKK.",
    "KWWWWWWWWWWWWWKD",
    "KWcccccccccccWKD",
    "KWcccccccyyccWKD",
    "KWccccccyyyycWKD",
    "KWcccGcccyyccWKD",
    "KWccGGGcccccgWKD",
    "KWcGGGGGccggGWKD",
    "KWGGGGGGGgggGWKD",
    "KWGGgggGGGGGGWKD",
    "KWgggggggGGGGWKD",
    "KWWWWWWWWWWWWWKD",
    "KKKKKKKKKKKKKKKD",
    ".DDDDDDDDDDDDDDD",
    "................",
]

_ICON = [
    "................",
    ".....KKKKKK.....",
    "...KKyyyyyyKK...",
    "..KyyyyyyyyyyK..",
    ".KyyyyyyyyyyyyK.",
    ".KyyyKKyyKKyyyK.",
    "KyyyyKKyyKKyyyyK",
    "KyyyyyyyyyyyyyyK",
    "KyyyyyyyyyyyyyOK",
    "KyyKyyyyyyyyKyOK",
    ".KyyKyyyyyyKyOK.",
    ".KyyyKKKKKKyyOK.",
    "..KyyyyyyyyyOK..",
    "...KKOOOOOOKK...",
    ".....KKKKKK.....",
    "................",
]

_CURSOR = ["..." + line[:-3] for line in [
    "K...............",
    "KK..............",
    "KWK.............",
    "KWWK............",
    "KWWWK...........",
    "KWWWWK..........",
    "KWWWWWK.........",
    "KWWWWWWK........",
    "KWWWWWWWK.......",
    "KWWWWWKKKK......",
    "KWWKWWK.........",
    "KWK.KWWK........",
    "KK..KWWK........",
    "K....KWWK.......",
    ".....KWWK.......",
    "......KK........",
]]

# The caps are grey, not silver: the image list takes silver for its mask colour, and
# silver caps would turn transparent in the window's lists.
_ANICURSOR = [
    "..KKKKKKKKKKK...",
    "..KDDDDDDDDDK...",
    "...KWWWWWWWK....",
    "...KWyyyyyWK....",
    "...KWyyyyyWK....",
    "....KWyyyWK.....",
    ".....KWyWK......",
    "......KyK.......",
    ".....KWyWK......",
    "....KWWyWWK.....",
    "...KWWWyWWWK....",
    "...KWWyyyWWK....",
    "...KWyyyyyWK....",
    "..KDDDDDDDDDK...",
    "..KKKKKKKKKKK...",
    "................",
]

_VIDEO = [
    "................",
    "................",
    "KKKKKKKKKKKKKKKK",
    "KWKWKWKWKWKWKWKK",
    "KKKKKKKKKKKKKKKK",
    "KccccccKcccccccK",
    "KcccyccKccccyccK",
    "KccccccKcccccccK",
    "KgccccgKgcccggcK",
    "KggggggKgggggggK",
    "KGGGGGGKGGGGGGGK",
    "KKKKKKKKKKKKKKKK",
    "KWKWKWKWKWKWKWKK",
    "KKKKKKKKKKKKKKKK",
    "................",
    "................",
]

_PAGE = [
    ".KKKKKKKKK......",
    ".KWWWWWWWKK.....",
    ".KWDDDDWWKWK....",
    ".KWWWWWWWKKKK...",
    ".KWDDDDDDWWWK...",
    ".KWWWWWWWWWWK...",
    ".KWDDDDDWWWWK...",
    ".KWWWWWWWWWWK...",
    ".KWDDDDWWWWWK...",
    ".KWWWWWWWWWWK...",
    ".KWDDDDDWWWWK...",
    ".KWWWWWWWWWWK...",
    ".KWDDDWWWWWWK...",
    ".KWWWWWWWWWWK...",
    ".KKKKKKKKKKKK...",
    "................",
]

_GLOBE = [
    "..KKKKK..",
    ".KBBgBBK.",
    "KBggggBBK",
    "KBBggBBBK",
    "KBBBBggBK",
    "KgBBBggBK",
    "KggBBBBBK",
    ".KBBBBBK.",
    "..KKKKK..",
]

# Pictures kept whole: a photograph on top of another, white-bordered, a sun over a hill.
_IMAGE = [
    "....KKKKKKKKKKK.",
    "....KTTTTTTTTTKD",
    "....KTTTTTTTTTKD",
    "KKKKKKKKKKKTTTKD",
    "KWWWWWWWWWKTTTKD",
    "KWBBBBBByBKTTTKD",
    "KWBBBBByyyKTTTKD",
    "KWBBBBBByBKTTTKD",
    "KWBBBBBBBBKTTTKD",
    "KWBBBgBBBBKKKKKD",
    "KWBBgggBBBKDDDDD",
    "KWBgggggBBKD....",
    "KWgggggggGKD....",
    "KWWWWWWWWWKD....",
    "KKKKKKKKKKKD....",
    ".DDDDDDDDDDD....",
]

KIND_ICONS = {
    "bitmap": _BITMAP,
    "icon": _ICON,
    "cursor": _CURSOR,
    "anicursor": _ANICURSOR,
    "video": _VIDEO,
    "html": overlay(_PAGE, _GLOBE, 7, 7),
    "image": _IMAGE,
}
