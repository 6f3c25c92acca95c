# Shared by run-fuzzers.sh and fuzz-long.sh (sourced, not run): the clang libFuzzer build in
# build-fuzz/, where its targets and seed corpora are, and the limits every run uses.
cd "$(dirname "${BASH_SOURCE[0]}")/.."
# Cache hits across clones: ccache sees paths relative to the checkout.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
# A target that needs more than 512 MB or 5 s for one input has found a fault worth reporting.
FUZZ_LIMITS=(-rss_limit_mb=512 -timeout=5)

fuzz_build() {
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_FUZZ=ON >/dev/null
  cmake --build build-fuzz -j "$(nproc)"
}

# The built targets, one path a line.
fuzz_targets() {
  local f
  for f in build-fuzz/fuzz/fuzz_*; do [[ -x $f ]] && echo "$f"; done
}

# Seed corpus folders of target NAME: tests/fuzz/<lib>/corpus/NAME/ when present.
fuzz_corpora() {
  local d
  for d in tests/fuzz/*/corpus/"$1"; do [[ -d $d ]] && echo "$d"; done
}
