#!/usr/bin/env bash
# Builds the Debian package of a release build folder and checks it as a user and a
# distribution would: the file list of `cmake --install` (DESTDIR and another prefix)
# and of the package against packaging/installed-files.txt, the package's fields, the
# unpacked programs (versions, usage, an extraction of the sample modules, the wizard
# without a display), the desktop entry, the metainfo, the man pages, the completion
# and lintian (any error fails). With CI=true, as root, and when no harvix package is
# installed yet, it also installs the package with apt and purges it again, checking
# that nothing is left behind.
# Usage: packaging/check-package.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build=$(cd "${1:?usage: check-package.sh BUILD_DIR}" && pwd)
app_id=io.github.harvix.Harvix

scratch=$(mktemp -d "${TMPDIR:-/tmp}/harvix-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "check-package.sh: $*" >&2; exit 1; }

expected() { grep -v '^#' "$here/installed-files.txt" | sed '/^$/d' | sort; }

# ---------------------------------------------------------------- cmake --install
echo "-- cmake --install with DESTDIR and another prefix"
DESTDIR="$scratch/destdir" cmake --install "$build" --prefix /opt/harvix >/dev/null
[ -d "$scratch/destdir/opt/harvix" ] || fail "nothing installed below DESTDIR/prefix"
(cd "$scratch/destdir/opt/harvix" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort) \
  >"$scratch/installed"
if (cd "$scratch/destdir" && find . -mindepth 1 -maxdepth 1 | grep -qvx './opt'); then
  fail "cmake --install wrote outside the prefix: $(ls "$scratch/destdir")"
fi
diff -u <(expected) "$scratch/installed" || fail "cmake --install does not install exactly the listed files"

# ---------------------------------------------------------------- the package
echo "-- cpack -G DEB"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
arch=$(dpkg --print-architecture)
(cd "$scratch" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1) ||
  { cat "$scratch/cpack.log"; fail "cpack failed"; }
deb="$scratch/pkg/harvix_${version}_${arch}.deb"
[ -f "$deb" ] || fail "cpack made $(ls "$scratch/pkg"), not $(basename "$deb")"

for field in Package Version Architecture Maintainer Section Priority Depends Description; do
  [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "the package has no $field field"
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6widgets6 libsqlite3-0 libseccomp2 libxcursor1; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib (dpkg-shlibdeps): $depends"
done
[ "$(dpkg-deb -f "$deb" Description | wc -l)" -gt 3 ] || fail "the package has no long description"

dpkg-deb -x "$deb" "$scratch/root"
(cd "$scratch/root/usr" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort) >"$scratch/packaged"
diff -u <( (expected; printf '%s\n' share/doc/harvix/changelog.gz share/doc/harvix/copyright) | sort) \
  "$scratch/packaged" || fail "the package does not hold exactly the listed files"
if (cd "$scratch/root" && find . -mindepth 1 -maxdepth 1 | grep -qvx './usr'); then
  fail "the package holds files outside /usr"
fi
usr="$scratch/root/usr"

# ---------------------------------------------------------------- the unpacked programs
echo "-- the unpacked programs"
bash "$source_dir/tests/packaging/programs-test.sh" --cli "$usr/bin/harvix-cli" --gui "$usr/bin/harvix" \
  --man-dir "$usr/share/man/man1" --completion "$usr/share/bash-completion/completions/harvix-cli" \
  --version "$version"
out="$scratch/extracted"
"$usr/bin/harvix-cli" extract --dest "$out" "$build/samples" </dev/null >"$scratch/counts" ||
  fail "the unpacked harvix-cli extract failed on the sample modules"
grep -Eq '^Icon: [1-9]' "$scratch/counts" || fail "no icons extracted from the samples: $(cat "$scratch/counts")"
[ -f "$out/Icons/__index.txt" ] || fail "the extraction wrote no icon index"

# ---------------------------------------------------------------- desktop integration
echo "-- desktop entry, metainfo and icons"
desktop="$usr/share/applications/$app_id.desktop"
metainfo="$usr/share/metainfo/$app_id.metainfo.xml"
desktop-file-validate "$desktop" || fail "desktop-file-validate found faults"
[ -z "$(desktop-file-validate "$desktop")" ] || fail "desktop-file-validate has remarks"
grep -qx "Icon=$app_id" "$desktop" || fail "the desktop entry's Icon is not $app_id"
grep -qx "Exec=harvix %f" "$desktop" || fail "the desktop entry's Exec is not harvix with one path (%f)"
# Every name under which MIME databases know Windows modules: file managers offer
# "Open with Harvix" for them and for folders, and show their icons (and those of icon
# and cursor files) through the thumbnailer entry.
module_types="application/x-ms-dos-executable application/x-msdownload application/x-dosexec
  application/vnd.microsoft.portable-executable application/x-ms-ne-executable"
icon_types="image/vnd.microsoft.icon image/x-icon image/x-ico image/x-win-bitmap"
# Windows Installer packages (by name, and the compound files some databases give them
# by content) and cabinets: their thumbnail is the icon of the program they install.
installer_types="application/x-msi application/x-ole-storage application/vnd.ms-cab-compressed"
has_type() { # FILE TYPE: the type is one of the entry's MimeType values
  grep '^MimeType=' "$1" | tr '=;' '\n\n' | grep -x "$2" >/dev/null
}
thumbnailer="$usr/share/thumbnailers/harvix.thumbnailer"
grep -qx 'Exec=harvix-cli thumbnail --size %s %i %o' "$thumbnailer" ||
  fail "the thumbnailer entry does not run harvix-cli thumbnail --size %s %i %o"
for type in $module_types $icon_types $installer_types; do
  has_type "$thumbnailer" "$type" || fail "the thumbnailer entry lacks the MIME type $type"
done
for type in $installer_types; do
  has_type "$desktop" "$type" || fail "the desktop entry lacks the MIME type $type"
done
for type in inode/directory $module_types; do
  has_type "$desktop" "$type" || fail "the desktop entry lacks the MIME type $type"
  [ "$type" = inode/directory ] || grep -q "<mediatype>$type</mediatype>" "$metainfo" ||
    fail "the metainfo does not provide the media type $type"
done
grep -q '<binary>harvix-cli</binary>' "$metainfo" || fail "the metainfo does not provide harvix-cli"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate found faults"
grep -q "<id>$app_id</id>" "$metainfo" || fail "the metainfo's id is not $app_id"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
  fail "the metainfo does not launch $app_id.desktop"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo has no release $version"
grep -q "<project_license>MIT</project_license>" "$metainfo" || fail "the metainfo does not name the MIT licence"
grep -qx "License: Expat" "$usr/share/doc/harvix/copyright" ||
  fail "the copyright file does not name the MIT (Expat) licence"
cmp -s <(awk 'body { sub(/^ /, ""); if ($0 == ".") $0 = ""; print } /^License: Expat$/ && prev == "" { body = 1 } { prev = $0 }' \
  "$usr/share/doc/harvix/copyright") \
  <(sed '1,4d' "$source_dir/LICENSE") || fail "the copyright file's licence text differs from LICENSE"
for size in 16 24 32 48 64 128 256; do
  file -b "$usr/share/icons/hicolor/${size}x$size/apps/$app_id.png" | grep -q "PNG image data, $size x $size, 8-bit/color RGBA" ||
    fail "the ${size}x$size icon is not a $size-pixel RGBA PNG"
done

# ---------------------------------------------------------------- lintian
echo "-- lintian"
lintian --fail-on error --tag-display-limit 0 "$deb" | tee "$scratch/lintian" ||
  fail "lintian reports errors"

# ---------------------------------------------------------------- apt install and purge
if [ "${CI:-}" = true ] && [ "$(id -u)" -eq 0 ]; then
  if dpkg-query -W -f='${Status}' harvix 2>/dev/null | grep -q installed; then
    echo "-- apt install/purge skipped: a harvix package is installed already"
  else
    echo "-- apt install and purge"
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -qq --no-install-recommends "$deb" >"$scratch/apt.log" 2>&1 ||
      { cat "$scratch/apt.log"; fail "apt-get install of the package failed"; }
    dpkg -L harvix | sort >"$scratch/owned"
    [ "$(/usr/bin/harvix-cli --version)" = "harvix $version" ] || fail "the installed harvix-cli does not run"
    apt-get purge -y -qq harvix >>"$scratch/apt.log" 2>&1 ||
      { cat "$scratch/apt.log"; fail "apt-get purge harvix failed"; }
    if dpkg-query -W -f='${Status}' harvix 2>/dev/null | grep -q installed; then
      fail "harvix is still installed"
    fi
    while read -r path; do
      if [ -f "$path" ] || [ -L "$path" ]; then fail "purging left $path behind"; fi
    done <"$scratch/owned"
    if [ -e /usr/share/doc/harvix ]; then fail "purging left /usr/share/doc/harvix behind"; fi
  fi
fi
echo "check-package.sh: $(basename "$deb") is fine ($(grep -c '^W:' "$scratch/lintian" || true) lintian warnings)"
