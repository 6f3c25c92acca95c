#!/usr/bin/env bash
# Builds every libFuzzer target with clang (build-fuzz/) and runs each for a few seconds
# (default 10) over its seed corpus: tests/fuzz/<lib>/corpus/<name>/ when present.
set -euo pipefail
cd "$(dirname "$0")/.."
# Cache hits across clones: ccache sees paths relative to the checkout.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
secs=${1:-10}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$(nproc)"
shopt -s nullglob
status=0
for f in build-fuzz/fuzz/fuzz_*; do
  name=${f##*/fuzz_}
  corpus=()
  for d in tests/fuzz/*/corpus/"$name"; do corpus+=("$d"); done
  work=$(mktemp -d)
  echo "== fuzzing $name for ${secs}s"
  if ! "$f" -max_total_time="$secs" -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$work/" \
      "$work" "${corpus[@]}" >"$work/log" 2>&1; then
    tail -40 "$work/log"; status=1
  fi
  rm -rf "$work"
done
exit $status
