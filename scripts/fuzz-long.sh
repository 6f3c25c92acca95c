#!/usr/bin/env bash
# A longer fuzzing session: scripts/fuzz-long.sh [SECONDS [TARGET...]]. Builds the libFuzzer
# targets, runs each (or the named ones), one after another, for SECONDS (default 600) over its
# checked-in seed corpus plus a work corpus outside the repository, $FUZZ_WORK/<name>/corpus
# (default build-fuzz/work), which keeps the new inputs found so a later session carries on from
# them. Prints per target the runs, coverage (cov: code edges, ft: features), the inputs added
# to the work corpus, and any crash, timeout, leak or out-of-memory file. Exits 1 when any
# target found something.
set -euo pipefail
source "$(dirname "$0")/fuzz-common.sh"
secs=${1:-600}
shift || true
mkdir -p build-fuzz
fuzz_build >build-fuzz/build.log 2>&1 || { tail -30 build-fuzz/build.log; exit 2; }
status=0
printf '%-24s %12s %8s %8s %6s  %s\n' target runs cov ft new findings
for f in $(fuzz_targets "$@"); do
  name=${f##*/fuzz_}
  work=${FUZZ_WORK:-build-fuzz/work}/$name
  mkdir -p "$work/corpus" "$work/artifacts"
  mapfile -t corpus < <(fuzz_corpora "$name")
  touch "$work/log.start"
  before=$(find "$work/corpus" -type f | wc -l)
  rc=0
  "${FUZZ_NICE[@]}" "$f" -max_total_time="$secs" "${FUZZ_LIMITS[@]}" -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" "${corpus[@]}" >"$work/log" 2>&1 || rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -1)
  # The last status line ("#N DONE cov: X ft: Y ...", or the last progress line before a crash).
  last=$(grep -a -E '^#[0-9]+[[:space:]].*cov: [0-9]+ ft: [0-9]+' "$work/log" | tail -1 || true)
  cov=$(sed -nE 's/.*cov: ([0-9]+).*/\1/p' <<<"$last")
  ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")
  [[ -n $runs ]] || runs=$(sed -nE 's/^#([0-9]+)[[:space:]].*/\1/p' <<<"$last")
  findings=$(find "$work/artifacts" -maxdepth 1 -type f \
    \( -name 'crash-*' -o -name 'timeout-*' -o -name 'leak-*' -o -name 'oom-*' \) \
    -newer "$work/log.start" 2>/dev/null | tr '\n' ' ' || true)
  if [[ $rc -ne 0 && -z $findings ]]; then findings="exit $rc, see $work/log"; fi
  added=$(( $(find "$work/corpus" -type f | wc -l) - before ))
  printf '%-24s %12s %8s %8s %6s  %s\n' "$name" "${runs:--}" "${cov:--}" "${ft:--}" "$added" \
    "${findings:-none}"
  [[ $rc -eq 0 && -z $findings ]] || status=1
done
exit $status
