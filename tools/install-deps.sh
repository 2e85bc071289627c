#!/usr/bin/env bash
# Installs the Debian packages that Harvix needs and that are missing, without asking.
# Usage: tools/install-deps.sh [build|test]
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config qt6-base-dev libsqlite3-dev sqlite3 fonts-dejavu-core)
if [ "${1:-build}" = test ]; then
  packages+=(libgtest-dev libgmock-dev clang libclang-rt-14-dev xvfb xauth)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then sudo=(sudo); else
    echo "Missing packages (${missing[*]}) and no root rights to install them." >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
