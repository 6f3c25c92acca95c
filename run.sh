#!/usr/bin/env bash
# Builds Quorvane and starts it. Installs missing Debian packages first (apt-get).
set -euo pipefail
cd "$(dirname "$0")"
# Cache hits across clones: ccache sees paths relative to the checkout.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
scripts/install-deps.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
if [ -x build/bin/quorvane ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  exec build/bin/quorvane "$@"
fi
if [ -x build/bin/qvfax ] && build/bin/qvfax demo --help >/dev/null 2>&1; then
  echo "No display (or no desktop program yet): running the command-line fax demo instead."
  exec build/bin/qvfax demo "$@"
fi
echo "The desktop program is not built yet; the programs that exist are in build/bin:"
ls build/bin 2>/dev/null || true
