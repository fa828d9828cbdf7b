#!/usr/bin/env bash
# Builds brevlith and splits the bundled sample mailbox in a scratch folder,
# then shows what it made.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
for tool in cmake g++; do
  command -v "$tool" >/dev/null || { echo "missing $tool: apt-get install cmake g++" >&2; exit 2; }
done
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B build/release "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DBREVLITH_TESTS=OFF >/dev/null
cmake --build build/release --target brevlith -j"$(nproc)" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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
