#!/usr/bin/env python3
"""The folder tree: one run with /r over a eudora tree against the same
mailboxes split folder by folder, one run each, without it. Prints the wall
time and the peak memory of each, for two tree sizes: memory must not grow
with the number of folders.
  python3 bench/tree.py [path-to-brevlith] [--folders N] [--messages M]"""
import os, shutil, subprocess, sys, tempfile, time

args = sys.argv[1:]
binary = os.path.abspath(args[0] if args and not args[0].startswith("--") else "build/release/brevlith")
folders = int(args[args.index("--folders") + 1]) if "--folders" in args else 1000
messages = int(args[args.index("--messages") + 1]) if "--messages" in args else 20000

def message(i):
    return (f"From ???@??? Mon Dec 13 04:42:05 2010\r\nFrom: a{i}@example.com\r\n"
            f"Subject: message {i}\r\n\r\n" + "a line of the body\r\n" * 20).encode()

def build(root, count):
    """`count` folders, three levels deep (Name.fol/Sub.fol/...), each with one mailbox."""
    paths, per = [], max(1, messages // count)
    for i in range(count):
        rel = os.path.join(f"F{i // 100:02d}.fol", f"G{i // 10 % 10}.fol", f"H{i % 10}.fol")
        os.makedirs(os.path.join(root, rel), exist_ok=True)
        with open(os.path.join(root, rel, "In.mbx"), "wb") as f:
            f.write(b"".join(message(i * per + j) for j in range(per)))
        paths.append(rel)
    return paths

def run(argv, cwd):
    """Wall time, and the run's own peak resident memory (GNU time's %M)."""
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv, cwd=cwd, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, check=False)
    return time.perf_counter() - start, int(done.stderr.split()[-1])

base = tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
try:
    print("| folders | messages | /r, one run (s) | folder by folder (s) | peak memory /r (KiB) |")
    print("|---|---|---|---|---|")
    for count in (folders // 10, folders, folders * 4):
        tree = os.path.join(base, f"tree{count}")
        paths = build(tree, count)
        out = os.path.join(base, "out")
        os.makedirs(out)
        whole, peak = run([binary, os.path.join(tree, "*.mbx"), "/r"], out)
        shutil.rmtree(out)
        os.makedirs(out)
        start = time.perf_counter()
        for rel in paths:  # the same files, each folder's into its own output
            sub = os.path.join(out, rel)
            os.makedirs(sub)
            subprocess.run([binary, os.path.join(tree, rel, "*.mbx")], cwd=sub,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        apart = time.perf_counter() - start
        shutil.rmtree(out)
        print(f"| {count:,} | {messages:,} | {whole:.2f} | {apart:.2f} | {peak:,} |")
finally:
    shutil.rmtree(base)
