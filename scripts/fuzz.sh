#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang and runs each for a fixed
# time: `scripts/fuzz.sh` 30 s each, `scripts/fuzz.sh 600` for a longer run.
# Each run starts by replaying fuzz/corpus/<target>, so an input once found
# and committed there stays a regression test. New inputs of a run are kept
# in a scratch folder only; a crash input lands in build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
cxx="${BREVLITH_FUZZ_CXX:-clang++-14}"
command -v "$cxx" >/dev/null ||
  { echo "missing $cxx: apt-get install clang-14 libclang-rt-14-dev" >&2; exit 2; }
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S fuzz -B build/fuzz "${generator[@]}" -DCMAKE_CXX_COMPILER="$cxx"
cmake --build build/fuzz -j"${BREVLITH_JOBS:-$(nproc)}"

scratch="$(mktemp -d /dev/shm/brevlith-fuzz.XXXXXX 2>/dev/null || mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p build/fuzz/artifacts
failed=()
for target in lines wildcard strings utf8 command_tail; do
  mkdir -p "$scratch/corpus-$target" "$scratch/work-$target"
  echo "== fuzz_$target, ${seconds} s"
  if BREVLITH_FUZZ_SCRATCH="$scratch/work-$target" "build/fuzz/fuzz_$target" \
    -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$PWD/build/fuzz/artifacts/$target-" \
    "$scratch/corpus-$target" "$PWD/fuzz/corpus/$target" 2>"$scratch/log-$target"; then
    grep -E '^#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb' \
      "$scratch/log-$target" || true
  else
    tail -n 40 "$scratch/log-$target"
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing failed: ${failed[*]}; the inputs are in build/fuzz/artifacts/." \
    "Fix the fault, then commit the input to fuzz/corpus/<target>/." >&2
  exit 1
fi
