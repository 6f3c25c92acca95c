#!/usr/bin/env bash
# Runs the fax label again and again on one build, as `ctest -L fax -j4`, each run once (no
# retry), and stops at the first failure. Shows whether a fax test fails now and then.
# Usage: scripts/soak-fax.sh [RUNS (50)] [BUILD_DIR (build)] [LOG_DIR (soak-logs)]
# One log per run in LOG_DIR, and LOG_DIR/summary.txt: the commit, then per run its result,
# seconds and the load average at its start.
set -uo pipefail
cd "$(dirname "$0")/.."
runs=${1:-50}
build=$(realpath "${2:-build}")
out=$(realpath -m "${3:-soak-logs}")
mkdir -p "$out"
echo "commit $(git rev-parse --short HEAD), start $(date -u +%FT%TZ)" > "$out/summary.txt"
for i in $(seq 1 "$runs"); do
  start=$(date +%s)
  load=$(cut -d' ' -f1 /proc/loadavg)
  (cd "$build" && ctest -L fax -j4 --timeout 600) > "$out/run-$i.log" 2>&1
  rc=$?
  echo "run $i rc=$rc $(( $(date +%s) - start ))s load_start=$load $(grep -o '[0-9]*% tests passed.*' "$out/run-$i.log")" \
    >> "$out/summary.txt"
  if [ $rc -ne 0 ]; then
    echo "failed at run $i" >> "$out/summary.txt"
    exit 1
  fi
done
echo "done $(date -u +%FT%TZ): $runs of $runs passed" >> "$out/summary.txt"
