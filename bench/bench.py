#!/usr/bin/env python3
"""Benchmark of brevlith against a reference splitter and mbox peers.

Generates seeded mailboxes on tmpfs, runs every tool once per repetition
(interleaved, so the tools see the same machine state), and prints a markdown
table of median wall time, CPU time and peak memory, each with its median
ratio to the reference program measured pair by pair. See bench/README.md.
"""
from __future__ import annotations

import argparse
import os
import platform
import re
import shlex
import shutil
import signal
import statistics
import subprocess
import sys
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
REPO_DIR = BENCH_DIR.parent
# BREVLITH_BENCH_ROOT moves it, e.g. when two checkouts benchmark on one machine.
ROOT = Path(os.environ.get("BREVLITH_BENCH_ROOT", "/dev/shm/brevlith-bench"))
SINGLE_TERM = "meeting"  # present in a few percent of messages, see gen_mbox.cpp
MB = 1_000_000


@dataclass
class Workload:
    key: str
    title: str
    size: int
    messages: int
    spread: float  # sigma of the log-normal message sizes
    fixed_count: bool = False  # scaling changes the message size, not the count
    seed: int = 1

    def scaled(self, scale: float) -> tuple[int, int]:
        count = self.messages if self.fixed_count else max(1, round(self.messages * scale))
        return max(1000, round(self.size * scale)), count


WORKLOADS = [
    Workload("a", "200 MB, ~40,000 messages", 200 * MB, 40_000, 0.8, seed=1),
    Workload("b", "200 MB, ~2,000 messages", 200 * MB, 2_000, 0.8, seed=2),
    Workload("c", "50 MB, ~200,000 small messages", 50 * MB, 200_000, 0.4, seed=3),
    Workload("d", "500 MB, ten 50 MB messages", 500 * MB, 10, 0.0, fixed_count=True, seed=4),
]
SEARCH_KEY = "e"  # search mode, run on workload a's mailbox


@dataclass
class Sample:
    wall: float
    cpu: float
    rss_kib: int


@dataclass
class Tool:
    name: str
    argv: list[str]
    outdir: str  # relative to the workload folder
    make_outdir: bool = True  # brevlith creates its own folder
    stdin_input: bool = False
    env: dict[str, str] = field(default_factory=dict)
    search: bool = False


@dataclass
class Row:
    workload: str
    tool: str
    samples: list[Sample] = field(default_factory=list)
    ref: list[Sample] = field(default_factory=list)
    counts: set[int] = field(default_factory=set)
    notes: list[str] = field(default_factory=list)
    failed: str = ""


def log(msg: str) -> None:
    print(msg, file=sys.stderr, flush=True)


# ---- building and finding the programs ---------------------------------------


def build(build_dir: Path) -> dict[str, Path]:
    """Builds bench/'s programs with bench/CMakeLists.txt (one job)."""
    build_dir.mkdir(parents=True, exist_ok=True)
    logf = build_dir / "build.log"
    with open(logf, "w") as out:
        for cmd in (
            ["cmake", "-S", str(BENCH_DIR), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release"],
            ["cmake", "--build", str(build_dir), "-j1"],
        ):
            if subprocess.run(cmd, stdout=out, stderr=subprocess.STDOUT).returncode != 0:
                sys.exit(f"bench: build failed, see {logf}:\n{logf.read_text()[-3000:]}")
    return {n: build_dir / n for n in ("gen_mbox", "reference_split", "measure")}


def ensure_formail(install: bool) -> str | None:
    """Returns formail's path, installing Debian's procmail when allowed; None to skip."""
    path = shutil.which("formail")
    if path:
        return path
    if install and os.geteuid() == 0 and shutil.which("apt-get"):
        log("bench: formail missing; installing Debian package procmail ...")
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        r = subprocess.run(
            ["apt-get", "install", "-y", "-q", "--no-install-recommends", "procmail"],
            env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        path = shutil.which("formail")
        if path:
            return path
        log(r.stdout[-2000:])
    log("bench: formail not found (Debian package procmail: apt-get install procmail); "
        "skipping formail rows")
    return None


def git_mailsplit_ok() -> bool:
    if not shutil.which("git"):
        log("bench: git not found; skipping git mailsplit rows")
        return False
    r = subprocess.run(["git", "mailsplit", "-h"], stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, text=True)
    if "usage: git mailsplit" in r.stdout:
        return True
    log("bench: git mailsplit unavailable; skipping its rows")
    return False


def tools_for(bins: dict[str, Path], brevlith: Path | None, formail: str | None,
              use_git: bool, wanted: set[str]) -> list[Tool]:
    tools = [Tool("reference", [str(bins["reference_split"]), "in.mbx", "out-reference"],
                  "out-reference")]
    if brevlith and "brevlith" in wanted:
        tools.append(Tool("brevlith", [str(brevlith), "in.mbx"], "brevlithoutput",
                          make_outdir=False))
    if use_git and "git" in wanted:
        tools.append(Tool("git mailsplit", ["git", "mailsplit", "--keep-cr", "-oout-git",
                                            "in.mbx"], "out-git"))
    if formail and "formail" in wanted:
        # The usual formail idiom: one shell per message writes it to a file.
        tools.append(Tool("formail", [formail, "-e", "-s", "sh", "-c",
                                      'cat > "$0/in-$FILENO.txt"', "out-formail"],
                          "out-formail", stdin_input=True, env={"FILENO": "0001"}))
    if "python" in wanted:
        tools.append(Tool("python mailbox", [sys.executable, str(BENCH_DIR / "py_split.py"),
                                             "in.mbx", "out-python"], "out-python"))
    return tools


def search_tools(brevlith: Path) -> list[Tool]:
    return [
        Tool("brevlith /s=1 term", [str(brevlith), "in.mbx", f"/s={SINGLE_TERM}"],
             "brevlithoutput", make_outdir=False, search=True),
        Tool("brevlith /s=1000 terms", [str(brevlith), "in.mbx", "/s=terms.txt"],
             "brevlithoutput", make_outdir=False, search=True),
    ]


# ---- running -------------------------------------------------------------------


def run_timed(measure: Path, argv: list[str], cwd: Path, stdin_path: Path | None,
              env: dict[str, str], timeout: float,
              errlog: Path) -> tuple[Sample | None, int, bool]:
    """Runs one command under bench/measure; returns its sample (None when it
    was killed), exit code and whether it timed out. CPU time and max RSS
    cover the command and every descendant it waited for (formail's shells)."""
    result = errlog.with_suffix(".measure")
    stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
    timed_out = False
    with open(errlog, "wb") as err:
        proc = subprocess.Popen([str(measure), str(result), *argv], cwd=cwd, stdin=stdin,
                                stdout=subprocess.DEVNULL, stderr=err,
                                env=dict(os.environ, **env), start_new_session=True)

        def kill() -> None:
            nonlocal timed_out
            timed_out = True
            os.killpg(proc.pid, signal.SIGKILL)

        timer = threading.Timer(timeout, kill)
        timer.start()
        code = proc.wait()
        timer.cancel()
    if stdin_path:
        stdin.close()
    if timed_out or not result.exists():
        return None, code, timed_out
    wall, user, sys_, rss, _ = result.read_text().split()
    result.unlink()
    return Sample(float(wall), float(user) + float(sys_), int(rss)), code, False


def clear(path: Path) -> None:
    if path.exists():
        shutil.rmtree(path)


def count_files(path: Path) -> int:
    if not path.is_dir():
        return 0
    with os.scandir(path) as it:
        return sum(1 for e in it if e.is_file())


SEPARATOR = re.compile(rb"(?:\A|\r\n|\r)From \?\?\?@\?\?\?")


def count_messages(data: bytes) -> int:
    return len(SEPARATOR.findall(data))


def messages_containing(mbox: Path, term: bytes) -> int:
    data = mbox.read_bytes()
    starts = [m.start() for m in SEPARATOR.finditer(data)] + [len(data)]
    data = data.lower()
    return sum(1 for a, b in zip(starts, starts[1:]) if data.find(term, a, b) >= 0)


def same_output(ref_dir: Path, other_dir: Path) -> str:
    """'' when both folders hold the same files byte for byte, else a short reason."""
    ref = sorted(os.listdir(ref_dir)) if ref_dir.is_dir() else []
    other = sorted(os.listdir(other_dir)) if other_dir.is_dir() else []
    if ref != other:
        missing = sorted(set(ref) - set(other))[:3]
        extra = sorted(set(other) - set(ref))[:3]
        return f"file names differ (missing {missing}, extra {extra})"
    for name in ref:
        if (ref_dir / name).read_bytes() != (other_dir / name).read_bytes():
            return f"{name} differs"
    return ""


# ---- reporting -----------------------------------------------------------------


def median_ratio(samples: list[Sample], ref: list[Sample], attr: str) -> float:
    ratios = [getattr(s, attr) / getattr(r, attr) for s, r in zip(samples, ref)
              if r is not None and getattr(r, attr) > 0]
    return statistics.median(ratios) if ratios else float("nan")


def table(rows: list[Row]) -> str:
    out = ["| workload | tool | wall s | wall ×ref | CPU s | CPU ×ref | max RSS MiB | RSS ×ref "
           "| messages | notes |",
           "|---|---|--:|--:|--:|--:|--:|--:|--:|---|"]
    for r in rows:
        notes = "; ".join(dict.fromkeys(r.notes))  # once each, in order
        if r.failed or not r.samples:
            out.append(f"| {r.workload} | {r.tool} | – | – | – | – | – | – | – | "
                       f"{r.failed or notes} |")
            continue
        wall = statistics.median(s.wall for s in r.samples)
        cpu = statistics.median(s.cpu for s in r.samples)
        rss = statistics.median(s.rss_kib for s in r.samples) / 1024
        counts = ",".join(str(c) for c in sorted(r.counts))
        out.append(
            f"| {r.workload} | {r.tool} | {wall:.3f} | {median_ratio(r.samples, r.ref, 'wall'):.2f}"
            f" | {cpu:.3f} | {median_ratio(r.samples, r.ref, 'cpu'):.2f} | {rss:.1f}"
            f" | {median_ratio(r.samples, r.ref, 'rss_kib'):.2f} | {counts} | {notes} |")
    return "\n".join(out)


def machine() -> str:
    model = "unknown"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    mem = ""
    try:
        kib = int(Path("/proc/meminfo").read_text().split()[1])
        mem = f", {kib / 1024 / 1024:.0f} GiB"
    except (OSError, ValueError, IndexError):
        pass
    return (f"nproc {len(os.sched_getaffinity(0))}, CPU {model}{mem}, kernel "
            f"{platform.release()}, Python {platform.python_version()}")


# ---- the benchmark -------------------------------------------------------------


def generate(gen: Path, wl: Workload, scale: float, wdir: Path, terms: bool) -> tuple[int, int]:
    size, count = wl.scaled(scale)
    wdir.mkdir(parents=True, exist_ok=True)
    cmd = [str(gen), "--out", str(wdir / "in.mbx"), "--size", str(size), "--messages",
           str(count), "--seed", str(wl.seed), "--spread", str(wl.spread)]
    if terms:
        cmd += ["--terms-out", str(wdir / "terms.txt"), "--terms", "1000"]
    t0 = time.perf_counter()
    r = subprocess.run(cmd, stdout=subprocess.PIPE, text=True, check=True)
    log(f"[{wl.key}] generated {r.stdout.strip()} in {time.perf_counter() - t0:.1f} s")
    return count, (wdir / "in.mbx").stat().st_size


def bench_workload(wl: Workload, tools: list[Tool], args, bins, wdir: Path,
                   do_split: bool, do_search: bool) -> list[Row]:
    expected, size = generate(bins["gen_mbox"], wl, args.scale, wdir, terms=do_search)
    mb = f"{size / MB:.0f}" if size >= 10 * MB else f"{size / MB:.1f}"
    label = f"({wl.key}) {mb} MB, {expected} msgs"
    run_list = [t for t in tools if do_split or t.name == "reference"]
    brevlith = next((t for t in tools if t.name == "brevlith"), None)
    if do_search and brevlith:
        run_list += search_tools(Path(brevlith.argv[0]))
    elif do_search:
        log("bench: no brevlith binary, so no search rows")
    rows: dict[str, Row] = {}
    for t in run_list:
        wname = f"(e) search on {label}" if t.search else label
        rows[t.name] = Row(wname, t.name)
    if not do_split:
        rows["reference"].workload = label + " (baseline)"
    for t in run_list:
        if t.name == "formail" and expected > args.formail_max_messages:
            rows[t.name].failed = (f"skipped: {expected} messages > --formail-max-messages "
                                   f"{args.formail_max_messages} (one shell per message)")
    hits_expected = None
    for rep in range(args.reps):
        ref_sample = None
        for t in run_list:
            row = rows[t.name]
            if row.failed:
                continue
            out = wdir / t.outdir
            clear(out)  # not timed
            if t.make_outdir:
                out.mkdir()
            sample, code, timed_out = run_timed(
                bins["measure"], t.argv, wdir, wdir / "in.mbx" if t.stdin_input else None, t.env, args.timeout,
                wdir / "stderr.txt")
            if code != 0:
                err = (wdir / "stderr.txt").read_text(errors="replace").strip()[-300:]
                err = " ".join(err.split()).replace("|", "/")
                if timed_out or sample is None or code >= 127:  # killed, or did not start
                    row.failed = (f"timed out after {args.timeout:.0f} s" if timed_out
                                  else f"exit code {code}: {err}")
                    log(f"[{wl.key}] {t.name}: {row.failed}")
                    continue
                # A tool may report an ordinary outcome with an exit code; keep the time.
                row.notes.append(f"WARNING: exit code {code}: {err}")
            if t.name == "reference":
                ref_sample = sample
            row.samples.append(sample)
            row.ref.append(ref_sample)
            if t.search:
                if t.name.endswith("1 term"):
                    hits = count_messages((out / f"{SINGLE_TERM}.mbx").read_bytes()) \
                        if (out / f"{SINGLE_TERM}.mbx").exists() else 0
                    row.counts.add(hits)
                    if hits_expected is None:
                        hits_expected = messages_containing(wdir / "in.mbx", SINGLE_TERM.encode())
                    if hits != hits_expected:
                        row.notes.append(f"WARNING: {hits} hits, {hits_expected} messages "
                                         f"contain '{SINGLE_TERM}'")
                else:
                    files = list(out.glob("*.mbx")) if out.is_dir() else []
                    row.counts.add(len(files))
                    if rep == 0:
                        total = sum(f.stat().st_size for f in files)
                        row.notes.append(f"{len(files)} term files, {total / MB:.0f} MB written")
            else:
                n = count_files(out)
                row.counts.add(n)
                if t.name == "reference" and n != expected:
                    row.notes.append(f"WARNING: {n} messages, generator wrote {expected}")
                if rep == 0 and t.name == "brevlith":
                    diff = same_output(wdir / "out-reference", out)
                    row.notes.append(f"output differs from reference: {diff}" if diff
                                     else "output identical to reference")
            log(f"[{wl.key}] rep {rep + 1}/{args.reps} {t.name:24} wall {sample.wall:7.3f} s  "
                f"cpu {sample.cpu:7.3f} s  rss {sample.rss_kib / 1024:7.1f} MiB")
        for t in run_list:
            clear(wdir / t.outdir)
    ref_counts = rows["reference"].counts
    for t in run_list:
        row = rows[t.name]
        if not t.search and row.counts and row.counts != ref_counts:
            row.notes.append(f"WARNING: message count differs from reference ({sorted(ref_counts)})")
        if t.search:
            row.notes.append("×ref: against the reference split of (a)")
    result = [rows[t.name] for t in run_list]
    if not do_split:
        result = [r for r in result if r.tool != "reference"]
    one, many = rows.get("brevlith /s=1 term"), rows.get("brevlith /s=1000 terms")
    if one and many and one.samples and many.samples:
        wall = median_ratio(many.samples, one.samples, "wall")
        cpu = median_ratio(many.samples, one.samples, "cpu")
        many.notes.append(f"1000 terms / 1 term: wall {wall:.2f}×, CPU {cpu:.2f}×")
    return result


def strace_mode(args, bins, brevlith: Path | None) -> None:
    if not shutil.which("strace"):
        sys.exit("bench: strace not found (Debian package strace: apt-get install strace)")
    wl = WORKLOADS[0]
    wdir = ROOT / "strace"
    expected, size = generate(bins["gen_mbox"], wl, args.strace_scale, wdir, terms=False)
    runs = [("reference", [str(bins["reference_split"]), "in.mbx", "out-reference"],
             "out-reference")]
    if brevlith:
        runs.append(("brevlith", [str(brevlith), "in.mbx"], "brevlithoutput"))
    else:
        log("bench: no brevlith binary; tracing the reference only")
    counts: dict[str, dict[str, int]] = {}
    for name, argv, outdir in runs:
        clear(wdir / outdir)
        trace = wdir / f"strace-{name}.txt"
        subprocess.run(["strace", "-c", "-f", "-o", str(trace), *argv], cwd=wdir,
                       stdout=subprocess.DEVNULL, check=True)
        counts[name] = parse_strace_c(trace.read_text())
    shown = ["openat", "open", "creat", "flock", "fcntl", "ftruncate", "close", "write",
             "writev", "pwrite64", "read", "pread64", "lseek", "newfstatat", "fstat", "statx",
             "mkdir", "total"]
    names = [n for n, _, _ in runs]
    print(f"System calls per message, workload (a) at scale {args.strace_scale}: "
          f"{expected} messages, {size / MB:.1f} MB (strace -c -f)\n")
    print("| system call | " + " | ".join(f"{n} calls | {n} per message" for n in names) + " |")
    print("|---|" + "--:|--:|" * len(names))
    for sc in shown:
        if any(counts[n].get(sc) for n in names):
            cells = " | ".join(f"{counts[n].get(sc, 0)} | {counts[n].get(sc, 0) / expected:.2f}"
                               for n in names)
            print(f"| {sc} | {cells} |")
    others = sorted({sc for n in names for sc in counts[n]} - set(shown))
    if others:
        print("\nOther calls: " + ", ".join(
            f"{sc} ({'/'.join(str(counts[n].get(sc, 0)) for n in names)})" for sc in others))


def parse_strace_c(text: str) -> dict[str, int]:
    """Calls per system call from `strace -c` output, plus their 'total'.

    Rows read "% time, seconds, usecs/call, calls, [errors], syscall"; the
    total row's layout differs between strace versions, so it is summed here."""
    counts: dict[str, int] = {}
    for line in text.splitlines():
        parts = line.split()
        if len(parts) < 5 or parts[-1] == "total" or not re.fullmatch(r"[\d.]+", parts[0]):
            continue
        counts[parts[-1]] = counts.get(parts[-1], 0) + int(parts[3])
    counts["total"] = sum(counts.values())
    return counts


def parse_args(argv: list[str]):
    p = argparse.ArgumentParser(
        prog="bench/run.sh", description="Benchmark brevlith against a reference and peers.")
    p.add_argument("brevlith", nargs="?", default=str(REPO_DIR / "build" / "release" / "brevlith"),
                   help="path to the brevlith binary (default: build/release/brevlith, as the scripts build it; rows skipped "
                        "if missing)")
    p.add_argument("--reps", type=int, default=5, help="repetitions (default 5)")
    p.add_argument("--scale", type=float, default=1.0,
                   help="scale workload sizes and message counts (e.g. 0.1 for a quick run)")
    p.add_argument("--workloads", default="a,b,c,d,e", help="subset, e.g. a,e (default all)")
    p.add_argument("--tools", default="brevlith,git,formail,python",
                   help="peers to run besides the reference (default all)")
    p.add_argument("--formail-max-messages", type=int, default=50_000,
                   help="skip formail above this many messages (it starts a shell per message)")
    p.add_argument("--timeout", type=float, default=1800, help="seconds per run before it is killed")
    p.add_argument("--no-install", action="store_true",
                   help="do not apt-get install procmail when formail is missing")
    p.add_argument("--strace", action="store_true",
                   help="only trace brevlith's system calls on a small workload (a)")
    p.add_argument("--strace-scale", type=float, default=0.01)
    p.add_argument("--out", help="also write the markdown report to this file")
    p.add_argument("--keep", action="store_true", help=f"keep {ROOT} afterwards")
    return p.parse_args(argv)


def main(argv: list[str]) -> int:
    args = parse_args(argv)
    command = os.environ.get("BENCH_COMMAND") or shlex.join([sys.argv[0], *argv])
    brevlith = Path(args.brevlith).resolve()
    if not (brevlith.is_file() and os.access(brevlith, os.X_OK)):
        log(f"bench: no brevlith binary at {brevlith}; skipping brevlith rows")
        brevlith = None
    if shutil.disk_usage("/dev/shm").free < 5e9 * args.scale:
        log("bench: warning: /dev/shm may be too small for this scale")
    clear(ROOT)
    ROOT.mkdir(parents=True)
    try:
        bins = build(ROOT / "build")
        if args.strace:
            strace_mode(args, bins, brevlith)
            return 0
        wanted = set(args.tools.split(","))
        keys = set(args.workloads.split(","))
        formail = ensure_formail(not args.no_install) if "formail" in wanted else None
        use_git = "git" in wanted and git_mailsplit_ok()
        tools = tools_for(bins, brevlith, formail, use_git, wanted)
        rows: list[Row] = []
        t0 = time.perf_counter()
        for wl in WORKLOADS:
            do_search = wl.key == "a" and SEARCH_KEY in keys
            if wl.key not in keys and not do_search:
                continue
            wdir = ROOT / wl.key
            rows += bench_workload(wl, tools, args, bins, wdir, wl.key in keys, do_search)
            clear(wdir)
        report = "\n".join([
            f"Command: `{command}`",
            f"Machine: {machine()}",
            f"Repetitions: {args.reps} (interleaved), scale {args.scale}, "
            f"total {time.perf_counter() - t0:.0f} s",
            "",
            table(rows),
        ])
        print(report)
        if args.out:
            Path(args.out).write_text(report + "\n")
    finally:
        if not args.keep:
            clear(ROOT)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
