#!/usr/bin/env python3
"""Times whole vorlex runs against the cost of copying the same bytes.

Builds the workloads (W1, W4, W16 and the 27-byte Tiny pakfile) in a scratch
folder, then runs every command and its floor interleaved, several times, and
prints medians, the ratio of each command to its floor, and the peak memory
(maximum resident set size) of each command.

    python3 bench/compare.py [--build build/bench] [--reps 7]

Floors: for extraction, `cp` of the text file that /E writes; for packing,
reading the text file plus writing a copy of the pakfile flushed to disk
(`dd ... conv=fsync`), since a pack rewrites the whole file and flushes it.

Hostile pakfiles are generated too (never committed): H16 is 16 MB whose
every other directory row starts inside the file and runs far past its end,
with a 3-node tree whose strings never end; R16 is 16 MB of random bytes.
Their /E exits with status 1 (damaged blocks), as it should.
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TINY = bytes.fromhex(
    "0300 4102FFFF 7C02FFFF 00000001 0100 0700 16000000 0100 0000 40")


def make_hostile(path, size):
    """A pakfile of `size` bytes: a 3-node tree whose both bits give 'A' (no
    string ever ends), and rows in pairs: one starting inside the file with a
    count of 1, the next far past the end of the file."""
    nodes = bytes([ord("A"), 2, 255, 255, ord("|"), 2, 255, 255, 0, 0, 0, 0])
    rows = 65534
    head = 4 + len(nodes) + 6 * rows
    step = (size - head) // (rows // 2)
    image = bytearray(size)
    image[0:2] = (3).to_bytes(2, "little")
    image[2:2 + len(nodes)] = nodes
    image[2 + len(nodes):4 + len(nodes)] = rows.to_bytes(2, "little")
    for row in range(rows):
        offset = head + (row // 2) * step if row % 2 == 0 else 0x7FFFFFFF
        at = 4 + len(nodes) + 6 * row
        image[at:at + 6] = row.to_bytes(2, "little") + offset.to_bytes(
            4, "little")
        if row % 2 == 0:
            image[offset:offset + 2] = (1).to_bytes(2, "little")
    with open(path, "wb") as f:
        f.write(image)


def make_random(path, size, seed):
    with open(path, "wb") as f:
        f.write(random.Random(seed).randbytes(size))


def run(argv, cwd, statuses=(0,)):
    """Runs argv; returns its wall-clock time in seconds."""
    start = time.perf_counter()
    done = subprocess.run(argv, cwd=cwd, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    if done.returncode not in statuses:
        sys.exit(f"failed ({done.returncode}): {' '.join(argv)}")
    return elapsed


def peak_memory_kib(argv, cwd):
    """Runs argv once under /usr/bin/time; returns its maximum resident set
    size in KiB. (A child's own rusage would include the memory of the
    Python process it was forked from.)"""
    report = os.path.join(cwd, "time.out")
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + argv,
                   cwd=cwd, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    with open(report) as f:
        return int(f.read().split()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build/bench")
    parser.add_argument("--reps", type=int, default=7)
    parser.add_argument("--tiny-runs", type=int, default=200)
    args = parser.parse_args()
    vorlex = os.path.abspath(os.path.join(args.build, "vorlex"))
    maker = os.path.abspath(os.path.join(args.build, "bench", "make_workload"))
    for tool in (vorlex, maker):
        if not os.path.exists(tool):
            sys.exit(f"missing {tool}: build the bench preset first")

    work = tempfile.mkdtemp(prefix="vorlex-bench-")
    try:
        sizes = {"W1": 1_000_000, "W4": 4_000_000, "W16": 16_000_000}
        for name, size in sizes.items():
            subprocess.run([maker, str(size), f"{name}.pak"], cwd=work,
                           check=True, stdout=subprocess.DEVNULL)
            subprocess.run([vorlex, f"{name}.pak", f"{name}.txt", "/E"],
                           cwd=work, check=True, stdout=subprocess.DEVNULL)
            # The last block alone, as /L writes it: the input of /R and /A.
            subprocess.run([vorlex, f"{name}.pak", f"{name}.last.txt", "/L",
                            "2046"], cwd=work, check=True,
                           stdout=subprocess.DEVNULL)
        with open(os.path.join(work, "tiny.pak"), "wb") as f:
            f.write(TINY)
        make_hostile(os.path.join(work, "H16.pak"), 16_000_000)
        make_random(os.path.join(work, "R16.pak"), 16_000_000, 16)
        for name in ("H16", "R16"):
            subprocess.run([vorlex, f"{name}.pak", f"{name}.txt", "/E"],
                           cwd=work, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)

        def fresh(name):
            shutil.copyfile(os.path.join(work, f"{name}.pak"),
                            os.path.join(work, "work.pak"))

        def pack_floor(name, text):
            return ["sh", "-c",
                    f"cat {text} >/dev/null && dd if={name}.pak of=floor.pak"
                    " bs=1M conv=fsync status=none"]

        cases = []  # (label, setup, command, floor, workload bytes)
        for name in ("H16", "R16"):
            cases.append((f"/E {name}", None,
                          [vorlex, f"{name}.pak", "out.txt", "/E"],
                          ["cp", f"{name}.txt", "floor.txt"], name))
        for name in sizes:
            cases.append((f"/E {name}", None,
                          [vorlex, f"{name}.pak", "out.txt", "/E"],
                          ["cp", f"{name}.txt", "floor.txt"], name))
            cases.append((f"/P {name}", lambda n=name: fresh(n),
                          [vorlex, "work.pak", f"{name}.txt", "/P"],
                          pack_floor(name, f"{name}.txt"), name))
        cases.append(("/R W16", lambda: fresh("W16"),
                      [vorlex, "work.pak", "W16.last.txt", "/R"],
                      pack_floor("W16", "W16.last.txt"), "W16"))
        cases.append(("/A W16", lambda: fresh("W16"),
                      [vorlex, "work.pak", "W16.last.txt", "/A"],
                      pack_floor("W16", "W16.last.txt"), "W16"))

        times = {c[0]: [] for c in cases}
        floors = {c[0]: [] for c in cases}
        rss = {c[0]: 0 for c in cases}
        for _ in range(args.reps):
            for label, setup, command, floor, _ in cases:
                if setup:
                    setup()
                times[label].append(run(command, work, (0, 1)))
                floors[label].append(run(floor, work))
        for label, setup, command, _, _ in cases:
            if setup:
                setup()
            rss[label] = peak_memory_kib(command, work)

        tiny_e, tiny_cat = [], []
        for _ in range(args.tiny_runs):
            tiny_e.append(run([vorlex, "tiny.pak", "tiny.txt", "/E"], work))
            tiny_cat.append(run(["cat", "tiny.pak"], work))

        print(f"{'command':<10} {'median s':>9} {'floor s':>9} {'ratio':>6}"
              f" {'max RSS MiB':>12} {'pakfile MiB':>12}")
        for label, _, _, _, name in cases:
            med = statistics.median(times[label])
            flo = statistics.median(floors[label])
            size = os.path.getsize(os.path.join(work, f"{name}.pak"))
            print(f"{label:<10} {med:9.4f} {flo:9.4f} {med / flo:6.2f}"
                  f" {rss[label] / 1024:12.1f} {size / 2**20:12.1f}")
        med_e, med_cat = statistics.median(tiny_e), statistics.median(tiny_cat)
        print(f"{'/E Tiny':<10} {med_e:9.5f} {med_cat:9.5f}"
              f" {med_e / med_cat:6.2f}   (floor: cat)")
        for verb in ("/E", "/P"):
            per = {}
            for name in ("W1", "W16"):
                size = os.path.getsize(os.path.join(work, f"{name}.pak"))
                per[name] = statistics.median(times[f"{verb} {name}"]) / size
            print(f"{verb} cost per byte, W16 / W1: {per['W16'] / per['W1']:.2f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
