#!/usr/bin/env bash
# Builds brevlith and runs every test (unit and end-to-end) with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in cmake g++; do
  command -v "$tool" >/dev/null || { echo "missing $tool: apt-get install cmake g++ ninja-build libgtest-dev libgmock-dev tmux" >&2; exit 2; }
done
[ -f /usr/include/gtest/gtest.h ] || { echo "missing GoogleTest: apt-get install libgtest-dev libgmock-dev" >&2; exit 2; }
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B build/release "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DBREVLITH_TESTS=ON \
  -DBREVLITH_WERROR="${BREVLITH_WERROR:-OFF}"
cmake --build build/release -j"$(nproc)"
(cd build/release && ctest --output-on-failure --no-tests=error -j"$(nproc)")
