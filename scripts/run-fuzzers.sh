#!/usr/bin/env bash
# Builds every libFuzzer target with clang (build-fuzz/) and runs each for a few seconds
# (default 10) over its seed corpus: tests/fuzz/<lib>/corpus/<name>/ when present.
set -euo pipefail
source "$(dirname "$0")/fuzz-common.sh"
secs=${1:-10}
fuzz_build
status=0
for f in $(fuzz_targets); do
  name=${f##*/fuzz_}
  mapfile -t corpus < <(fuzz_corpora "$name")
  work=$(mktemp -d)
  echo "== fuzzing $name for ${secs}s"
  if ! "${FUZZ_NICE[@]}" "$f" -max_total_time="$secs" "${FUZZ_LIMITS[@]}" -artifact_prefix="$work/" \
      "$work" "${corpus[@]}" >"$work/log" 2>&1; then
    tail -40 "$work/log"; status=1
  fi
  rm -rf "$work"
done
exit $status
