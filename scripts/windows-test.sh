#!/usr/bin/env bash
# Cross-builds brevlith.exe with mingw-w64 and tests it under Wine: the unit
# tests built for Windows, then the end-to-end suite (which includes the
# comparison with the Linux binary) run against brevlith.exe. Uses a fresh
# Wine prefix that it removes again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
wine=${BREVLITH_WINE:-/usr/lib/wine/wine64}
wineserver=${BREVLITH_WINESERVER:-/usr/lib/wine/wineserver}
install_hint="apt-get install g++-mingw-w64-x86-64 wine64 googletest"
command -v x86_64-w64-mingw32-g++-posix >/dev/null || { echo "missing mingw-w64: $install_hint" >&2; exit 2; }
[ -x "$wine" ] && [ -x "$wineserver" ] || { echo "missing Wine: $install_hint" >&2; exit 2; }
[ -f /usr/src/googletest/CMakeLists.txt ] || { echo "missing GoogleTest sources: $install_hint" >&2; exit 2; }
jobs=$(nproc)

echo "== building brevlith.exe"
cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DBREVLITH_WERROR="${BREVLITH_WERROR:-OFF}" >/dev/null
cmake --build build/windows -j"$jobs"

# A static build: nothing beyond the DLLs that every Windows has.
dlls=$(x86_64-w64-mingw32-objdump -p build/windows/brevlith.exe | awk '/DLL Name:/ {print $3}')
echo "brevlith.exe imports: $(echo $dlls)"
for dll in $dlls; do
  case "${dll,,}" in
    kernel32.dll | user32.dll | msvcrt.dll) ;;
    *) echo "brevlith.exe needs $dll, which Windows does not ship" >&2; exit 1 ;;
  esac
done

echo "== building the Linux end-to-end tests"
# The sample script configures this folder without tests: switch them on.
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBREVLITH_TESTS=ON \
  -DBREVLITH_WERROR="${BREVLITH_WERROR:-OFF}" >/dev/null
cmake --build build/release -j"$jobs" --target brevlith brevlith_e2e_tests

export WINEPREFIX
WINEPREFIX=$(mktemp -d "$root/build/wineprefix.XXXXXX")
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="  # no .NET or HTML engine to install
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -w 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

echo "== creating the Wine prefix"
# One server for the whole run: starting one per program costs seconds.
"$wineserver" -p
"$wine" wineboot --init >/dev/null 2>&1

echo "== unit tests (Windows build, under Wine)"
# A second run only where the first failed, for the same reason as below.
(cd build/windows && ctest --output-on-failure --no-tests=error --repeat until-pass:2)

echo "== end-to-end tests against brevlith.exe (under Wine)"
export BREVLITH_LAUNCHER="$wine $root/build/windows/brevlith.exe"
# The fault-injecting build and the screen probe are Linux programs, whose
# tests scripts/test.sh has run. The rest runs in one shard per core.
export GTEST_TOTAL_SHARDS=$jobs
logs=$(mktemp -d)
pids=()
for ((shard = 0; shard < jobs; shard++)); do
  GTEST_SHARD_INDEX=$shard build/release/tests/brevlith_e2e_tests --gtest_brief=1 \
    --gtest_filter='-FaultWalk.*:Screen.*' >"$logs/$shard.log" 2>&1 &
  pids+=($!)
done
failed=0
for ((shard = 0; shard < jobs; shard++)); do
  wait "${pids[$shard]}" || failed=1
  cat "$logs/$shard.log"
done
if [ $failed -ne 0 ]; then
  # Wine itself now and then fails to run a program (seen once in CI: exit 1
  # in 57 ms with nothing written). A failure that comes back when run again
  # is ours; one or two that do not are named here and let through. More than
  # two at once is never taken for Wine's.
  names=$(sed -n 's/^\[  FAILED  \] \([A-Za-z0-9_]*\.[A-Za-z0-9_]*\) (.*/\1/p' "$logs"/*.log | sort -u)
  count=$(echo "$names" | grep -c . || true)
  if [ "$count" -ge 1 ] && [ "$count" -le 2 ]; then
    filter=$(echo $names | tr ' ' ':')
    echo "== running again under Wine: $filter"
    # A failure here is printed whole: the test's own output shows what the
    # tool wrote, standard output's last line naming a lost standard error.
    if env -u GTEST_TOTAL_SHARDS -u GTEST_SHARD_INDEX build/release/tests/brevlith_e2e_tests \
      --gtest_repeat=3 --gtest_filter="$filter" >"$logs/retry.log" 2>&1; then
      echo "windows stage: $filter failed once under Wine and passed three times after it"
      failed=0
    else
      cat "$logs/retry.log"
    fi
  fi
fi
rm -rf "$logs"
exit $failed
