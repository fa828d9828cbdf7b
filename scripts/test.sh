#!/usr/bin/env bash
# Builds brevlith and runs every test (unit and end-to-end) with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
# Every package the tests need, installed or named at once before anything is built.
source scripts/install_missing.sh
missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
command -v tmux >/dev/null || missing+=(tmux)
command -v strace >/dev/null || missing+=(strace)
command -v groff >/dev/null || missing+=(groff-base)
install_missing "${missing[@]}"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
# The same cache options as scripts/sample.sh, so that one after the other
# neither reconfigures nor rebuilds.
cmake -S . -B build/release "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DBREVLITH_TESTS=ON \
  -DBREVLITH_WERROR="${BREVLITH_WERROR:-OFF}"
cmake --build build/release -j"$(nproc)"
(cd build/release && ctest --output-on-failure --no-tests=error -j"$(nproc)")
