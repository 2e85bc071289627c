#!/usr/bin/env bash
# Installs the Debian packages that Harvix needs and that are missing, without asking.
# Usage: tools/install-deps.sh [build|test]
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config qt6-base-dev libsqlite3-dev sqlite3 fonts-dejavu-core libpng-dev zlib1g-dev
  scdoc gzip
  nlohmann-json3-dev
  nettle-dev # SHA-256 of the files written, to write each content once (--unique)
  libseccomp-dev # the system-call filter of harvix-cli's sandbox
  libxcursor-dev # the Xcursor files of harvix-cli cursor-theme
  libarchive-dev libmspack-dev # containers: ZIP, 7z, RAR, TAR, ISO; CAB, SZDD, KWAJ
  libmsi-dev libglib2.0-dev) # Windows Installer packages (libmsi's pkg-config file needs GLib's)
if [ "${1:-build}" = test ]; then
  packages+=(libgtest-dev libgmock-dev clang libclang-rt-14-dev xvfb xauth imagemagick)
  packages+=(locales) # a second locale for the index header's date (made below)
  # the package checks: cpack's dpkg-shlibdeps, the validators, the man page renderer
  packages+=(dpkg-dev file desktop-file-utils appstream lintian man-db bash-completion)
  packages+=(parallel jq python3-jsonschema) # the script-output and sharding tests
  packages+=(python3-pil) # Pillow, the second decoder the bitmaps written are held against
  packages+=(bubblewrap icoutils) # the thumbnailer in GNOME's sandbox; wrestool beside the 16-bit reader
  packages+=(strace) # harvix-cli seen entering its sandbox
  packages+=(zip 7zip tar genisoimage gcab mscompress wixl) # the containers and installer packages the tests read
fi

# The tests write index headers under German as well as the C locale.
test_locale=de_DE.UTF-8
needs_locale() {
  [ "${1:-build}" = test ] && ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ] && ! needs_locale "${1:-build}"; then exit 0; fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then sudo=(sudo); else
    echo "Missing packages (${missing[*]}) or the locale $test_locale, and no root rights to" \
         "install them." >&2
    exit 1
  fi
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if needs_locale "${1:-build}"; then
  echo "Generating the locale $test_locale"
  "${sudo[@]}" localedef -i de_DE -f UTF-8 "$test_locale"
fi
