#!/bin/sh
# Xfce's thumbnailing service (tumbler) picks up share/thumbnailers/harvix.thumbnailer
# and makes thumbnails with harvix-cli: run on a private D-Bus session with only our
# entry in its data folders, it is asked for three sample modules and must store
# thumbnails of the two that have icons (48 pixels, their largest: never enlarged).
# Skipped (77) without tumbler.
# Usage: tumbler-check.sh HARVIX-CLI THUMBNAILER-ENTRY SAMPLES-DIR
set -eu
cli=$1 entry=$2 samples=$3
tumblerd=$(ls /usr/lib/*/tumbler-1/tumblerd 2>/dev/null | head -1)
if [ -z "$tumblerd" ] || ! command -v dbus-run-session >/dev/null || ! command -v gdbus >/dev/null; then
  echo "tumbler, dbus-run-session or gdbus not installed: skipped"
  exit 77
fi
work=$(mktemp -d /tmp/harvix-tumbler-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/share/thumbnailers" "$work/bin" "$work/home" "$work/cache" "$work/in"
cp "$entry" "$work/share/thumbnailers/"
ln -s /usr/share/mime "$work/share/mime" # for telling PNG files apart
ln -s "$cli" "$work/bin/harvix-cli"
cp "$samples/pictures.dll" "$samples/viewer.exe" "$samples/readme.dll" "$work/in/"
cat > "$work/session.sh" <<EOS
"$tumblerd" > "$work/tumblerd.log" 2>&1 &
for i in 1 2 3 4 5 6 7 8 9 10; do
  gdbus call --session --dest org.freedesktop.thumbnails.Thumbnailer1 \
    --object-path /org/freedesktop/thumbnails/Thumbnailer1 \
    --method org.freedesktop.thumbnails.Thumbnailer1.GetSchedulers >/dev/null 2>&1 && break
  sleep 1
done
gdbus call --session --dest org.freedesktop.thumbnails.Thumbnailer1 \
  --object-path /org/freedesktop/thumbnails/Thumbnailer1 \
  --method org.freedesktop.thumbnails.Thumbnailer1.Queue \
  "['file://$work/in/pictures.dll','file://$work/in/viewer.exe','file://$work/in/readme.dll']" \
  "['application/x-ms-dos-executable','application/x-ms-dos-executable','application/x-ms-dos-executable']" \
  normal foreground 0 >/dev/null
for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
  [ "\$(ls "$work/cache/thumbnails/normal" 2>/dev/null | wc -l)" -ge 2 ] && break
  sleep 1
done
sleep 1
EOS
env -i PATH="$work/bin:/usr/bin:/bin" HOME="$work/home" XDG_CACHE_HOME="$work/cache" \
  XDG_DATA_DIRS="$work/share" dbus-run-session -- sh "$work/session.sh" 2>/dev/null || true
count=$(ls "$work/cache/thumbnails/normal" 2>/dev/null | wc -l)
echo "tumbler stored $count thumbnails"
[ "$count" -eq 2 ] || { cat "$work/tumblerd.log"; exit 1; }
for f in "$work/cache/thumbnails/normal"/*.png; do
  file "$f" | grep -q 'PNG image data, 48 x 48' || { file "$f"; exit 1; }
done
echo "ok"
