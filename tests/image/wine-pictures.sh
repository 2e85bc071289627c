#!/usr/bin/env bash
# Every picture of Wine's own modules (when Wine is installed), with every file and wide
# limits: nothing is called not well formed, every bitmap is written, and every bitmap
# file opens in Pillow and in ImageMagick with the same colours. Wine's modules hold
# bitmaps of every common information header (the 32-bit toolbars and the theme file's
# pictures among them) and icons of every common form.
# Usage: wine-pictures.sh HARVIX_CLI [WINE_MODULE_FOLDER]
# Exit status 77 (skipped) without the modules, Pillow or ImageMagick.
set -euo pipefail
cli=$1
wine=${2:-/usr/lib/x86_64-linux-gnu/wine/x86_64-windows}
python=/usr/bin/python3 # Debian's, with Debian's Pillow
convert=/usr/bin/convert
[ -d "$wine" ] || { echo "no Wine modules in $wine: skipped"; exit 77; }
"$python" -c 'import PIL' 2>/dev/null || { echo "no Pillow: skipped"; exit 77; }
[ -x "$convert" ] || { echo "no ImageMagick: skipped"; exit 77; }
command -v jq > /dev/null || { echo "no jq: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cli" extract --dest "$work/out" --mask '*' --no-subfolders \
  --bitmap-limits '0-64;0-2147483647;0-2147483647' --icon-limits '0-64;0-255;0-255' \
  --report "$work/report.json" "$wine" > "$work/counts" 2> "$work/err" || fail "extract exited $?"
cat "$work/counts"
malformed=$(jq '[.left_out[] | select(.reason == "not_well_formed")]' "$work/report.json")
[ "$malformed" = "[]" ] || fail "called not well formed: $malformed"
bitmaps=$(jq '[.left_out[] | select(.kind == "BITMAP")]' "$work/report.json")
[ "$bitmaps" = "[]" ] || fail "bitmaps left out: $bitmaps"
written=$(jq '.kinds.BITMAP.written' "$work/report.json")
[ "$written" -gt 0 ] || fail "no bitmap written"
[ "$(find "$work/out/Bitmaps" -name '*.bmp' | wc -l)" -eq "$written" ] || fail "bitmap files differ from the count"

# Each bitmap file in both decoders: the same size and the same colours. Where the two
# readings of alpha differ (a 32-bit picture without masks whose fourth bytes are not all
# zero: Pillow reads it as opaque, ImageMagick as alpha), the colours still agree.
"$python" - "$convert" "$work/out/Bitmaps" <<'PY' || fail "a bitmap file does not open alike in Pillow and ImageMagick"
import os, subprocess, sys
from PIL import Image
convert, folder = sys.argv[1], sys.argv[2]
files = sorted(os.path.join(folder, f) for f in os.listdir(folder) if f.endswith(".bmp"))
failed = 0
for start in range(0, len(files), 50):
    batch = files[start:start + 50]
    pictures = []
    for name in batch:
        with Image.open(name) as picture:
            picture.load()
            pictures.append(picture.convert("RGBA"))
    magick = subprocess.run([convert] + ["BMP:" + n for n in batch] + ["-depth", "8", "RGBA:-"],
                            capture_output=True, check=True).stdout
    at = 0
    for name, picture in zip(batch, pictures):
        ours = picture.tobytes()
        theirs = magick[at:at + len(ours)]
        at += len(ours)
        if len(theirs) != len(ours) or any(ours[i:i + 3] != theirs[i:i + 3] for i in range(0, len(ours), 4)):
            print(f"{name}: Pillow and ImageMagick read different pictures", file=sys.stderr)
            failed += 1
    if at != len(magick):
        print(f"ImageMagick read pictures of other sizes in {batch}", file=sys.stderr)
        failed += 1
print(f"{len(files)} bitmap files open alike in Pillow and ImageMagick")
sys.exit(1 if failed else 0)
PY
