#!/usr/bin/env bash
# Installs what is missing, builds, and starts the Harvix wizard. Without a display it
# says so and runs the command-line tool on the bundled sample modules instead.
set -euo pipefail
cd "$(dirname "$0")"

tools/install-deps.sh build
cmake --preset default -DHARVIX_TESTS=OFF >/dev/null
cmake --build --preset default -j "$(nproc)"

if [ -x build/app/window/harvix ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  exec build/app/window/harvix
fi

samples=build/samples
out=$(mktemp -d "${TMPDIR:-/tmp}/harvix-output.XXXXXX")
if [ -x build/app/window/harvix ]; then
  echo "No display found: running the command-line tool on the bundled sample modules."
fi
echo "Resources in the sample modules ($samples):"
build/cli/harvix-cli list "$samples"
if build/cli/harvix-cli extract --dest "$out/Resources" --yes "$samples"; then
  echo "Extracted into $out/Resources"
fi
