#!/usr/bin/env bash
# Builds brevlith and splits the bundled sample mailbox in build/sample/,
# then shows what it made there; the folder stays for a look.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
source scripts/install_missing.sh
missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
install_missing "${missing[@]}"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
# scripts/test.sh's cache options where GoogleTest is there, so that running
# one after the other never reconfigures build/release; without it, no tests.
tests=OFF
[ -f /usr/include/gtest/gtest.h ] && tests=ON
cmake -S . -B build/release "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DBREVLITH_TESTS=$tests \
  -DBREVLITH_WERROR="${BREVLITH_WERROR:-OFF}" >/dev/null
cmake --build build/release --target brevlith -j"$(nproc)" >/dev/null
work="$root/build/sample"
rm -rf "$work"
mkdir -p "$work"
cp examples/sample.mbx examples/terms.txt "$work"/
cd "$work"
echo "== brevlith sample.mbx"
"$root/build/release/brevlith" sample.mbx | tr -d '\r'
echo "== files written:"
ls -l brevlithoutput
echo "== brevlithoutput/sample-0002.txt:"
tr -d '\r' < brevlithoutput/sample-0002.txt
echo "== brevlith sample.mbx /s=terms.txt"
"$root/build/release/brevlith" sample.mbx /s=terms.txt | tr -d '\r'
ls -l brevlithoutput/*.mbx
echo "== all of it is in build/sample/; the binary is build/release/brevlith"
