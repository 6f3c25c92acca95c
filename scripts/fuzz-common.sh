# Shared by run-fuzzers.sh and fuzz-long.sh (sourced, not run): the clang libFuzzer build in
# build-fuzz/, where its targets and seed corpora are, and the limits every run uses.
cd "$(dirname "${BASH_SOURCE[0]}")/.."
# Cache hits across clones: ccache sees paths relative to the checkout.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
# A target that needs more than 512 MB or 5 s for one input has found a fault worth reporting.
FUZZ_LIMITS=(-rss_limit_mb=512 -timeout=5)

# Fuzzing shares the machine: builds and runs go at the lowest priority.
FUZZ_NICE=(nice -n 19)

fuzz_build() {
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_FUZZ=ON >/dev/null
  "${FUZZ_NICE[@]}" cmake --build build-fuzz -j "$(nproc)"
}

# The built targets, one path a line; with names given, only those targets.
fuzz_targets() {
  local f name want
  for f in build-fuzz/fuzz/fuzz_*; do
    [[ -x $f ]] || continue
    name=${f##*/fuzz_}
    if [[ $# -gt 0 ]]; then
      for want in "$@"; do [[ $want == "$name" ]] && echo "$f"; done
    else
      echo "$f"
    fi
  done
}

# Seed corpus folders of target NAME: tests/fuzz/<lib>/corpus/NAME/ when present.
fuzz_corpora() {
  local d
  for d in tests/fuzz/*/corpus/"$1"; do [[ -d $d ]] && echo "$d"; done
}
