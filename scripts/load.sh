#!/usr/bin/env bash
# Load runs outside the test suite, on tmpfs: one mailbox of 1,000,000
# messages, 10,000 mailboxes matched by one pattern, a term file of 100,000
# terms, a single message of 2 GiB. Each runs at half and at full size and
# reports wall time, peak memory and what was written, so that growth worse
# than linear shows. Usage: scripts/load.sh [case...] (default: all four:
# messages mailboxes terms large). Needs about 6 GiB free in /dev/shm.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B build/release "${generator[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release --target brevlith -j"${BREVLITH_JOBS:-$(nproc)}" >/dev/null
tool="$root/build/release/brevlith"
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time: apt-get install time" >&2; exit 2; }

work="$(mktemp -d /dev/shm/brevlith-load.XXXXXX)"
trap 'rm -rf "$work"' EXIT
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(messages mailboxes terms large)

printf '%-10s %10s %8s %8s %8s %9s %8s %12s %s\n' case size seconds user system "peak MiB" files bytes exit
# run <case> <size> <args...>: the tool in $work/run, its figures on one line.
run() {
  local name="$1" size="$2"
  shift 2
  (cd "$work/run" && /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$tool" "$@" >/dev/null \
    2>"$work/err") && status=0 || status=$?
  # /usr/bin/time writes a "Command exited" line first when the status is not 0.
  local seconds user system kib
  read -r seconds user system kib < <(tail -n 1 "$work/time")
  local files bytes
  files=$(find "$work/run/brevlithoutput" -type f | wc -l)
  bytes=$(du -sb --apparent-size "$work/run/brevlithoutput" | cut -f1)
  printf '%-10s %10s %8s %8s %8s %9s %8s %12s %s\n' "$name" "$size" "$seconds" "$user" \
    "$system" "$((kib / 1024))" "$files" "$bytes" "$status"
  [ "$status" -eq 0 ] || { echo "brevlith failed:" >&2; head -n 5 "$work/err" >&2; }
}
fresh() {
  rm -rf "$work/run"
  mkdir -p "$work/run"
}

for c in "${cases[@]}"; do
  case "$c" in
  messages)
    for n in 500000 1000000; do
      fresh
      perl -e 'for $i (1..$ARGV[0]) { print "From ???\@??? Mon Jan  1 00:00:00 2024\r\n",
        "Subject: message $i\r\n\r\nThe body of message $i.\r\n" }' "$n" >"$work/run/in.mbx"
      run messages "$n" in.mbx
    done
    ;;
  mailboxes)
    for n in 5000 10000; do
      fresh
      perl -e 'chdir $ARGV[1] or die; for $b (1..$ARGV[0]) {
        open(F, ">", sprintf("box%05d.mbx", $b)) or die;
        for $i (1..3) { print F "From ???\@??? $b\r\nSubject: $i\r\n\r\nbody\r\n" } close F }' \
        "$n" "$work/run"
      run mailboxes "$n" '*.mbx'
    done
    ;;
  terms)
    for n in 50000 100000; do
      fresh
      # 1,000 messages of about 1 KiB; every 1,000th term occurs in one of them.
      perl -e 'for $i (1..1000) { print "From ???\@??? $i\r\nSubject: m $i\r\n\r\n",
        ("lorem ipsum dolor sit amet, consectetur adipiscing elit " x 18), "\r\n",
        "key", $i * 97, "\r\n" }' >"$work/run/in.mbx"
      perl -e 'for $t (1..$ARGV[0]) { print $t % 1000 ? "absent$t\r\n" : "key" . $t / 1000 * 97 . "\r\n" }' \
        "$n" >"$work/run/terms.txt"
      run terms "$n" in.mbx /s=terms.txt
    done
    ;;
  large)
    for mib in 1024 2048; do
      fresh
      perl -e 'my $line = ("x" x 1022) . "\r\n"; my $chunk = $line x 1024;
        print "From ???\@??? big\r\n"; print $chunk for 1..$ARGV[0]' "$mib" >"$work/run/big.mbx"
      run large "${mib}MiB" big.mbx
    done
    ;;
  *)
    echo "unknown case $c (messages, mailboxes, terms, large)" >&2
    exit 2
    ;;
  esac
done
