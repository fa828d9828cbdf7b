#!/usr/bin/env bash
# Builds the packages and checks what they install: brevlith_<version>_amd64.deb
# in build/release and brevlith-<version>-win64.zip in build/windows. Each
# installed binary (cmake --install to a scratch prefix, the .deb unpacked
# with dpkg -x) must split the sample exactly as the built one does, with
# its manual page beside it, and the .deb must pass lintian.
# Usage: scripts/package.sh [deb|zip]... (default both).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/install_missing.sh
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(deb zip)
jobs="${BREVLITH_JOBS:-$(nproc)}"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# sample <binary> <folder>: the sample split and searched in <folder>, stdout kept.
sample() {
  mkdir -p "$2"
  cp examples/sample.mbx examples/terms.txt "$2"/
  (cd "$2" && "$1" sample.mbx >stdout.txt && "$1" sample.mbx /s=terms.txt >>stdout.txt)
}
# check_installed <prefix> <what>: bin/brevlith and its manual page under <prefix>.
check_installed() {
  [ -x "$1/bin/brevlith" ] || { echo "$2: no bin/brevlith" >&2; exit 1; }
  for file in share/man/man1/brevlith.1.gz share/doc/brevlith/{README.md,copyright,changelog.gz}; do
    [ -f "$1/$file" ] || { echo "$2: no $file" >&2; exit 1; }
  done
  sample "$1/bin/brevlith" "$scratch/run-$2"
  diff -r "$scratch/built" "$scratch/run-$2" >/dev/null ||
    { echo "$2: the installed brevlith splits the sample differently" >&2; exit 1; }
  echo "$2: bin/brevlith splits the sample as the built one does; manual page and docs present"
}

for kind in "${kinds[@]}"; do
  case "$kind" in
  deb)
    missing=()
    command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)
    command -v file >/dev/null || missing+=(file)
    command -v lintian >/dev/null || missing+=(lintian)
    install_missing "${missing[@]}"
    # scripts/test.sh's cache options, as scripts/sample.sh does.
    tests=OFF
    [ -f /usr/include/gtest/gtest.h ] && tests=ON
    cmake -S . -B build/release "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
      -DBREVLITH_TESTS=$tests -DBREVLITH_WERROR="${BREVLITH_WERROR:-OFF}" >/dev/null
    cmake --build build/release --target brevlith -j"$jobs"
    (cd build/release && cpack -G DEB >/dev/null)
    deb=$(ls build/release/brevlith_*_amd64.deb)
    echo "== $deb"
    dpkg-deb -f "$deb" Package Version Architecture Section Depends Description
    sample "$root/build/release/brevlith" "$scratch/built"
    cmake --install build/release --prefix "$scratch/prefix" >/dev/null
    check_installed "$scratch/prefix" "cmake --install"
    dpkg-deb -x "$deb" "$scratch/deb"
    check_installed "$scratch/deb/usr" "$(basename "$deb")"
    # Debian's own checks; the pedantic ones are shown, not enforced.
    lintian_ok=true
    found=$(lintian --fail-on error,warning --pedantic "$deb" 2>&1) || lintian_ok=false
    printf '%s\n' "$found" | grep -v 'running with root privileges' || true
    $lintian_ok || { echo "$deb: lintian found errors or warnings" >&2; exit 1; }
    echo "$deb: lintian passes"
    ;;
  zip)
    command -v x86_64-w64-mingw32-g++-posix >/dev/null || install_missing g++-mingw-w64-x86-64
    # scripts/windows-test.sh's folder and options.
    cmake -S . -B build/windows -G Ninja --no-warn-unused-cli \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=Release -DBREVLITH_WERROR="${BREVLITH_WERROR:-OFF}" >/dev/null
    cmake --build build/windows --target brevlith -j"$jobs"
    (cd build/windows && cpack -G ZIP >/dev/null)
    zip=$(ls build/windows/brevlith-*-win64.zip)
    echo "== $zip"
    mkdir -p "$scratch/zip"
    (cd "$scratch/zip" && cmake -E tar xf "$root/$zip")
    top="$scratch/zip/$(basename "$zip" .zip)"
    (cd "$top" && ls -l)
    x86_64-w64-mingw32-objdump -f "$top/brevlith.exe" | grep -q 'file format pei-x86-64' ||
      { echo "$zip: brevlith.exe is not a 64-bit Windows program" >&2; exit 1; }
    # The Windows README, not the Linux one, and every line of each text in CR LF.
    tr -d '\r' <"$top/README.txt" | cmp -s - README.md && { echo "$zip: README.txt is the Linux README" >&2; exit 1; }
    for text in README.txt LICENSE.txt; do
      if [ "$(tr -d '\r' <"$top/$text" | wc -l)" != "$(grep -c $'\r$' "$top/$text")" ]; then
        echo "$zip: $text is not in CR LF" >&2
        exit 1
      fi
    done
    echo "$zip: brevlith.exe, README.txt and LICENSE.txt (CR LF)"
    ;;
  *)
    echo "unknown package $kind (deb, zip)" >&2
    exit 2
    ;;
  esac
done
