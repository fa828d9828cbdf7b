#!/usr/bin/env python3
"""Peak memory of brevlith's two structures that grow with their input.

  bench/run.sh --memory [path-to-brevlith] [--terms N] [--names N] [--keep]

Generates, on /dev/shm, a term file of N terms of 60 characters (default
100,000) and a folder of N mailboxes with long names (default 200,000), runs
brevlith once on each under /usr/bin/time -v and prints its peak resident set
size against the bound: 16 x the term file's bytes + 32 MiB for the search,
2 x the names' bytes + 32 MiB for the listing. Exits 1 when a run exceeds its
bound or does not end with exit code 0.
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
from pathlib import Path

REPO_DIR = Path(__file__).resolve().parent.parent
ROOT = Path(os.environ.get("BREVLITH_BENCH_ROOT", "/dev/shm/brevlith-bench")) / "memory"
MIB = 1 << 20
TERM_LENGTH = 60
NAME_LENGTH = 120  # bytes, ".mbx" included
ALPHABET = "abcdefghijklmnopqrstuvwxyz0123456789"


def peak_rss(brevlith: Path, args: list[str], cwd: Path) -> tuple[int, int, float]:
    """(exit code, peak RSS in bytes, wall seconds) of one run."""
    r = subprocess.run(["/usr/bin/time", "-v", str(brevlith), *args], cwd=cwd,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    rss = re.search(r"Maximum resident set size \(kbytes\): (\d+)", r.stderr)
    wall = re.search(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (?:(\d+):)?(\d+):([\d.]+)",
                     r.stderr)
    if not rss or not wall:
        sys.exit(f"bench: no figures from /usr/bin/time:\n{r.stderr}")
    seconds = int(wall.group(1) or 0) * 3600 + int(wall.group(2)) * 60 + float(wall.group(3))
    code = r.returncode
    if code != 0:
        sys.stderr.write(r.stderr)
    return code, int(rss.group(1)) * 1024, seconds


def main(argv: list[str]) -> int:
    p = argparse.ArgumentParser(prog="bench/run.sh --memory")
    p.add_argument("brevlith", nargs="?", default=str(REPO_DIR / "build" / "release" / "brevlith"))
    p.add_argument("--terms", type=int, default=100_000)
    p.add_argument("--names", type=int, default=200_000)
    p.add_argument("--keep", action="store_true", help=f"keep {ROOT} afterwards")
    args = p.parse_args(argv)
    brevlith = Path(args.brevlith).resolve()
    if not brevlith.is_file():
        sys.exit(f"bench: no brevlith binary at {brevlith}")
    if not Path("/usr/bin/time").exists():
        sys.exit("bench: needs /usr/bin/time (Debian's package time)")
    shutil.rmtree(ROOT, ignore_errors=True)
    rng = random.Random(5)
    failed = False
    rows = []
    try:
        # Search: random terms share little beyond their first bytes, the
        # worst case for the automaton's size; a small mailbox to search.
        search_dir = ROOT / "search"
        search_dir.mkdir(parents=True)
        words = ["".join(rng.choice(ALPHABET) for _ in range(TERM_LENGTH))
                 for _ in range(args.terms)]
        terms = "".join(w + "\r\n" for w in words)
        (search_dir / "terms.txt").write_text(terms)
        # 1,000 messages, each holding one of the terms.
        (search_dir / "in.mbx").write_text(
            "".join(f"From ???@??? Mon Jan 01 00:00:00 2024\r\nSubject: {i}\r\n\r\n"
                    f"text {words[i * 97 % len(words)]} text\r\n" for i in range(1000)))
        term_bytes = len(terms)
        code, rss, wall = peak_rss(brevlith, ["in.mbx", "/s=terms.txt"], search_dir)
        rows.append((f"search, {args.terms:,} terms of {TERM_LENGTH} bytes", term_bytes,
                     16 * term_bytes + 32 * MIB, rss, wall, code))

        # Listing: every name matches the pattern; an empty mailbox each, and
        # a term found in none, so nothing but the listing grows.
        list_dir = ROOT / "list"
        box_dir = list_dir / "boxes"
        box_dir.mkdir(parents=True)
        name_bytes = 0
        for i in range(args.names):
            name = f"{i:07d}-" + "".join(rng.choice(ALPHABET) for _ in range(NAME_LENGTH - 12)) + ".mbx"
            (box_dir / name).touch()
            name_bytes += len(name)
        code, rss, wall = peak_rss(brevlith, ["boxes/*.mbx", "/s=zqzqzq"], list_dir)
        rows.append((f"listing, {args.names:,} names of {NAME_LENGTH} bytes", name_bytes,
                     2 * name_bytes + 32 * MIB, rss, wall, code))
    finally:
        if not args.keep:
            shutil.rmtree(ROOT, ignore_errors=True)

    print(f"Command: `bench/run.sh --memory {' '.join(argv)}`".replace("  ", " "))
    print()
    print("| run | input MiB | bound MiB | peak RSS MiB | peak / bound | wall s | exit |")
    print("|---|--:|--:|--:|--:|--:|--:|")
    for label, size, bound, rss, wall, code in rows:
        print(f"| {label} | {size / MIB:.1f} | {bound / MIB:.1f} | {rss / MIB:.1f} | "
              f"{rss / bound:.2f} | {wall:.2f} | {code} |")
        failed |= rss > bound or code != 0
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
