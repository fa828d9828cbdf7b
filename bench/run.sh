#!/bin/sh
# One command for the whole benchmark: builds bench/'s programs, generates the
# mailboxes on /dev/shm, runs the tools and prints the markdown table.
#   bench/run.sh [path-to-brevlith] [--reps N] [--scale F] [--strace] ...
# bench/run.sh --self-test checks the harness itself on small inputs.
# bench/run.sh --memory [path-to-brevlith] measures peak memory against its bounds.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" = "--self-test" ]; then
  shift
  exec python3 "$here/selftest.py" "$@"
fi
if [ "${1:-}" = "--memory" ]; then
  shift
  exec python3 "$here/memory.py" "$@"
fi
BENCH_COMMAND="$0 $*" exec python3 "$here/bench.py" "$@"
