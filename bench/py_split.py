#!/usr/bin/env python3
"""Splits an mbox file with Python's standard mailbox module, one file per message.

    py_split.py IN.mbx OUTDIR    ->  OUTDIR/<stem>-0001.txt, <stem>-0002.txt, ...

A peer for the benchmark: what a short script on the standard library costs.
"""
import mailbox
import os
import sys


def split(src: str, outdir: str) -> int:
    stem = os.path.splitext(os.path.basename(src))[0]
    os.makedirs(outdir, exist_ok=True)
    box = mailbox.mbox(src, create=False)
    count = 0
    try:
        for key in box.iterkeys():
            count += 1
            with open(os.path.join(outdir, f"{stem}-{count:04d}.txt"), "wb") as out:
                out.write(box.get_bytes(key, from_=True))
    finally:
        box.close()
    return count


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: py_split.py IN.mbx OUTDIR")
    print(f"{split(sys.argv[1], sys.argv[2])} messages")
