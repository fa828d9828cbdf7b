#!/usr/bin/env bash
# Builds the unit and end-to-end tests with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs them. A sanitizer report ends the
# process with its own exit code, so it can never pass for the tool's 1.
set -euo pipefail
cd "$(dirname "$0")/.."
# Warnings are judged by the normal build; with the sanitizers' instrumentation
# GCC 12 reports false maybe-uninitialized warnings inside the standard library.
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
jobs="${BREVLITH_JOBS:-$(nproc)}"
# -O1: the sanitizers find the same faults, and the build takes half the time.
cmake -S . -B build/sanitize "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g -DNDEBUG" -DBREVLITH_SANITIZE=ON -DBREVLITH_WERROR=OFF
cmake --build build/sanitize -j"$jobs"
export ASAN_OPTIONS="exitcode=86:detect_leaks=1:abort_on_error=0:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="exitcode=87:print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
(cd build/sanitize && ctest --output-on-failure -j"$jobs")
