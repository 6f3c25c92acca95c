#!/usr/bin/env bash
# Builds Quorvane and runs every test; exits non-zero on any failure.
# Installs missing Debian packages first (apt-get), so a fresh Debian 12 machine needs nothing else.
set -euo pipefail
cd "$(dirname "$0")"
# Cache hits across clones: ccache sees paths relative to the checkout.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
scripts/install-deps.sh test
jobs=${QV_JOBS:-$(nproc)}
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
cd build
ctest -j "${QV_TEST_JOBS:-2}" --output-on-failure --timeout 600
