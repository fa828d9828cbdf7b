#!/usr/bin/env python3
"""Checks of the benchmark harness itself (bench/run.sh --self-test).

The reference splitter must be right, or the ratios mean nothing; the
generated mailboxes must split at the same places for every tool; and the
harness must run end to end, brevlith rows included (with a stand-in).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import bench  # noqa: E402

WORK = Path("/dev/shm/brevlith-bench-selftest")
BINS: dict[str, Path] = {}


def setUpModule():
    if WORK.exists():
        shutil.rmtree(WORK)
    WORK.mkdir(parents=True)
    BINS.update(bench.build(WORK / "build"))


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


def split(data: bytes, name="in.mbx") -> list[bytes]:
    """The reference's output for `data`, in message order."""
    d = Path(tempfile.mkdtemp(dir=WORK))
    (d / name).write_bytes(data)
    subprocess.run([str(BINS["reference_split"]), name, "out"], cwd=d, check=True,
                   stdout=subprocess.DEVNULL)
    stem = name.rsplit(".", 1)[0]
    files = sorted((d / "out").iterdir(), key=lambda p: int(p.stem.rsplit("-", 1)[1]))
    assert all(f.name.startswith(stem + "-") for f in files)
    out = [f.read_bytes() for f in files]
    shutil.rmtree(d)
    return out


def generate(size, messages, seed=1, spread=0.8, terms=False) -> tuple[Path, bytes]:
    d = Path(tempfile.mkdtemp(dir=WORK))
    cmd = [str(BINS["gen_mbox"]), "--out", str(d / "in.mbx"), "--size", str(size),
           "--messages", str(messages), "--seed", str(seed), "--spread", str(spread)]
    if terms:
        cmd += ["--terms-out", str(d / "terms.txt"), "--terms", "1000"]
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    return d, (d / "in.mbx").read_bytes()


SEP = b"From ???@??? Mon Jan 01 00:00:00 2024"


class ReferenceSplit(unittest.TestCase):
    def test_splits_at_separator_lines_and_keeps_crlf_bytes(self):
        data = SEP + b"\r\nA\r\n\r\n" + SEP + b"\r\nB\r\n"
        self.assertEqual(split(data), [SEP + b"\r\nA\r\n\r\n", SEP + b"\r\nB\r\n"])

    def test_first_line_starts_a_message_whatever_it_is(self):
        self.assertEqual(split(b"junk\r\n" + SEP + b"\r\nB\r\n"),
                         [b"junk\r\n", SEP + b"\r\nB\r\n"])

    def test_bare_cr_ends_lines_and_is_written_as_crlf(self):
        data = SEP + b"\rA\r" + SEP + b"\rB"
        self.assertEqual(split(data), [SEP + b"\r\nA\r\n", SEP + b"\r\nB\r\n"])

    def test_bare_lf_and_mid_line_separators_do_not_split(self):
        data = SEP + b"\r\nA\n" + SEP + b"\r\nsee " + SEP + b"\r\nFrom ???@?? x\r\n"
        self.assertEqual(split(data), [data])

    def test_unterminated_last_line_gets_crlf(self):
        self.assertEqual(split(SEP + b"\r\nA\r\nFrom ???@???"),
                         [SEP + b"\r\nA\r\n", b"From ???@???\r\n"])

    def test_empty_file_has_no_messages(self):
        self.assertEqual(split(b""), [])

    def test_separators_across_read_blocks_and_messages_larger_than_a_block(self):
        block = 1 << 20
        msgs = []
        # A separator straddling the first block boundary.
        first = SEP + b"\r\n" + b"x" * (block - 5 - len(SEP) - 4) + b"\r\n"
        msgs.append(first)
        # CR at the end of the second block, LF at the start of the third,
        # the separator right after.
        pos = len(first)
        second = SEP + b"\r\n" + b"y" * (2 * block - 1 - pos - len(SEP) - 2) + b"\r\n"
        msgs.append(second)
        self.assertEqual((pos + len(second) - 2), 2 * block - 1)
        msgs.append(SEP + b"\r\n" + (b"z" * 70 + b"\r\n") * 50000)  # 3.5 MiB message
        msgs.append(SEP + b"\r\nend\r\n")
        self.assertEqual(split(b"".join(msgs)), msgs)

    def test_numbers_grow_to_five_digits(self):
        d = Path(tempfile.mkdtemp(dir=WORK))
        (d / "box.mbx").write_bytes((SEP + b"\r\nm\r\n") * 10001)
        subprocess.run([str(BINS["reference_split"]), "box.mbx", "out"], cwd=d, check=True,
                       stdout=subprocess.DEVNULL)
        names = set(os.listdir(d / "out"))
        self.assertEqual(len(names), 10001)
        self.assertTrue({"box-0001.txt", "box-9999.txt", "box-10000.txt",
                         "box-10001.txt"} <= names)
        shutil.rmtree(d)


class Generator(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir, cls.data = generate(3_000_000, 600, terms=True)

    def test_size_count_and_lossless_split(self):
        self.assertLess(abs(len(self.data) - 3_000_000), 30_000)
        parts = split(self.data)
        self.assertEqual(len(parts), 600)
        self.assertEqual(b"".join(parts), self.data)

    def test_lines_end_in_crlf_and_only_separators_start_with_from_space(self):
        lines = self.data.split(b"\r\n")
        self.assertEqual(lines[-1], b"")
        self.assertFalse([ln for ln in lines if b"\r" in ln or b"\n" in ln][:3])
        from_lines = [ln for ln in lines if ln.startswith(b"From ")]
        self.assertEqual(len(from_lines), 600)
        self.assertTrue(all(ln.startswith(b"From ???@??? ") for ln in from_lines))

    def test_has_headers_blank_line_and_high_bytes(self):
        first = split(self.data)[0]
        head = first.split(b"\r\n\r\n", 1)[0]
        for field in (b"\r\nFrom: ", b"\r\nTo: ", b"\r\nSubject: ", b"\r\nDate: ",
                      b"\r\nMessage-ID: <"):
            self.assertIn(field, head)
        self.assertGreater(sum(1 for b in self.data if b > 127), 100)

    def test_same_seed_same_bytes_other_seed_other_bytes(self):
        _, again = generate(3_000_000, 600)
        _, other = generate(3_000_000, 600, seed=2)
        self.assertEqual(again, self.data)
        self.assertNotEqual(other, self.data)

    def test_small_and_huge_messages_hit_their_sizes(self):
        _, small = generate(250_000, 1000, spread=0.4)
        self.assertLess(abs(len(small) - 250_000), 12_500)
        self.assertEqual(len(split(small)), 1000)
        _, big = generate(20_000_000, 10, spread=0)
        sizes = [len(m) for m in split(big)]
        self.assertEqual(len(sizes), 10)
        self.assertTrue(all(abs(s - 2_000_000) < 20_000 for s in sizes), sizes)

    def test_terms_mix_present_absent_and_prefixes(self):
        raw = (self.dir / "terms.txt").read_bytes()
        self.assertTrue(raw.endswith(b"\r\n"))
        terms = raw.split(b"\r\n")[:-1]
        self.assertEqual(len(terms), 1000)
        self.assertEqual(len(set(terms)), 1000)
        self.assertEqual(terms[0], bench.SINGLE_TERM.encode())
        self.assertTrue(all(t == t.lower() and t.isalpha() for t in terms))
        # The absent terms must stay absent at any size: "zq" never occurs.
        _, big = generate(30_000_000, 6000)
        low = big.lower()
        absent = [t for t in terms if t.startswith(b"zq")]
        self.assertGreater(len(absent), 300)
        self.assertFalse([t for t in absent if t in low])
        present = [t for t in terms if t in low]
        self.assertGreater(len(present), 400)
        self.assertIn(bench.SINGLE_TERM.encode(), present)
        term_set = set(terms)
        prefixes = [t for t in terms if any(t != u and u.startswith(t) for u in term_set)]
        self.assertGreater(len(prefixes), 50)


class Peers(unittest.TestCase):
    """Every peer must find the reference's messages, or its row compares unlike work."""

    @classmethod
    def setUpClass(cls):
        cls.dir, data = generate(4_000_000, 700)
        cls.expected = len(split(data))

    def run_tool(self, tool: bench.Tool) -> int:
        out = self.dir / tool.outdir
        shutil.rmtree(out, ignore_errors=True)
        if tool.make_outdir:
            out.mkdir()
        with open(self.dir / "in.mbx" if tool.stdin_input else os.devnull, "rb") as stdin:
            subprocess.run(tool.argv, cwd=self.dir, stdin=stdin, stdout=subprocess.DEVNULL,
                           env=dict(os.environ, **tool.env), check=True)
        return bench.count_files(out)

    def tools(self) -> dict[str, bench.Tool]:
        formail = shutil.which("formail")
        found = bench.tools_for(BINS, None, formail, bench.git_mailsplit_ok(),
                                {"git", "formail", "python"})
        return {t.name: t for t in found}

    def test_git_mailsplit(self):
        tool = self.tools().get("git mailsplit")
        if not tool:
            self.skipTest("git mailsplit unavailable")
        self.assertEqual(self.run_tool(tool), self.expected)

    def test_formail(self):
        tool = self.tools().get("formail")
        if not tool:
            self.skipTest("formail not installed (Debian package procmail)")
        self.assertEqual(self.run_tool(tool), self.expected)

    def test_python_mailbox(self):
        self.assertEqual(self.run_tool(self.tools()["python mailbox"]), self.expected)


STAND_IN = """#!/usr/bin/env python3
# Stand-in for brevlith: splits with the reference, searches naively.
import os, re, subprocess, sys
sep = re.compile(rb"(?:\\A|\\r\\n|\\r)(?=From \\?\\?\\?@\\?\\?\\?)")
if len(sys.argv) == 2:
    subprocess.run([os.environ["REFERENCE_SPLIT"], sys.argv[1], "brevlithoutput"], check=True)
    sys.exit(0)
term = sys.argv[2][3:]
terms = open(term, "rb").read().split(b"\\r\\n")[:-1] if os.path.isfile(term) else [term.encode()]
data = open(sys.argv[1], "rb").read()
cuts = [m.end() for m in sep.finditer(data)] + [len(data)]
os.makedirs("brevlithoutput", exist_ok=True)
for a, b in zip(cuts, cuts[1:]):
    msg = data[a:b]
    for t in terms:
        if t in msg.lower():
            with open(os.path.join("brevlithoutput", t.decode() + ".mbx"), "ab") as f:
                f.write(msg)
"""


class Harness(unittest.TestCase):
    def test_strace_summary_parsing(self):
        text = """% time     seconds  usecs/call     calls    errors syscall
------ ----------- ----------- --------- --------- ----------------
 46.40    3.581374          17    200001           write
 41.72    3.220024          16    200006         3 openat
------ ----------- ----------- --------- --------- ----------------
100.00    7.718465          12    400007         3 total
"""
        self.assertEqual(bench.parse_strace_c(text),
                         {"write": 200001, "openat": 200006, "total": 400007})

    def test_end_to_end_with_a_stand_in_brevlith(self):
        fake = WORK / "brevlith"
        fake.write_text(STAND_IN)
        fake.chmod(0o755)
        os.environ["REFERENCE_SPLIT"] = str(BINS["reference_split"])
        report = WORK / "report.md"
        old_root = bench.ROOT
        bench.ROOT = WORK / "run"
        try:
            code = bench.main([str(fake), "--scale", "0.004", "--reps", "2", "--out", str(report),
                               "--formail-max-messages", "200"])
        finally:
            bench.ROOT = old_root
        self.assertEqual(code, 0)
        text = report.read_text()
        self.assertNotIn("WARNING", text)
        for key in "abcd":
            self.assertIn(f"| ({key}) ", text)
        self.assertEqual(text.count("output identical to reference"), 4)
        self.assertIn("| (e) search on (a)", text)
        self.assertIn("1000 terms / 1 term: wall", text)
        self.assertFalse((WORK / "run").exists(), "the run's data must be cleaned up")


if __name__ == "__main__":
    unittest.main(verbosity=2)
