#!/usr/bin/env python3
"""Prints the peak resident memory (from /usr/bin/time -v) and the throughput of the Python module
reading one large entry, stored and compressed: through Archive.open() in 1 MiB reads, and whole
through Archive.read(), for comparison.

    bench/python_entry_stream.py --build BUILD_DIR [--size-mib 300] [--work /dev/shm/oxtrel-pystream]

The build needs the Python module. The archives are made in --work (memory-backed by default)
and removed afterwards.
"""

import argparse
import os
import pathlib
import re
import shutil
import subprocess
import sys

PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable

READERS = {
    "open().read(1 MiB) loop": (
        "import oxtrel, sys, time\n"
        "a = oxtrel.open(sys.argv[1]); start = time.perf_counter(); total = 0\n"
        "with a.open('big/entry.bin') as f:\n"
        "    while piece := f.read(1 << 20):\n"
        "        total += len(piece)\n"
        "print(total, time.perf_counter() - start)\n"),
    "read() whole": (
        "import oxtrel, sys, time\n"
        "a = oxtrel.open(sys.argv[1]); start = time.perf_counter()\n"
        "total = len(a.read('big/entry.bin'))\n"
        "print(total, time.perf_counter() - start)\n"),
}


def make_source(path, size):
    """Bytes that compress about 3:1, so inflating has real work to do."""
    block = bytearray()
    seed = 12345
    for i in range(1 << 20):
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        block.append((seed >> 16) & 0x3F if i % 3 else i & 0xFF)
    with open(path, "wb") as out:
        for _ in range(size >> 20):
            out.write(block)


def measure(build, archive, script):
    env = dict(os.environ, PYTHONPATH=str(build / "python"))
    run = subprocess.run(["/usr/bin/time", "-v", PYTHON, "-c", script, str(archive)], env=env,
                         capture_output=True, text=True, check=True)
    peak = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", run.stderr).group(1))
    total, seconds = run.stdout.split()
    return peak / 1024, int(total), float(seconds)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--size-mib", type=int, default=300)
    parser.add_argument("--work", default="/dev/shm/oxtrel-pystream")
    args = parser.parse_args()
    build = pathlib.Path(args.build).resolve()
    sys.path.insert(0, str(build / "python"))
    import oxtrel

    work = pathlib.Path(args.work)
    work.mkdir(parents=True, exist_ok=True)
    try:
        source = work / "entry.bin"
        make_source(source, args.size_mib << 20)
        baseline = measure(build, "-", "import oxtrel, sys\nprint(0, 0)\n")[0]
        print(f"entry: {args.size_mib} MiB; an interpreter with the module imported peaks at {baseline:.1f} MiB")
        print(f"{'archive':<11} {'reader':<26} {'peak MiB':>9} {'MiB/s':>8}")
        for compress in (False, True):
            archive = work / ("compressed.vrk" if compress else "stored.vrk")
            oxtrel.pack_entries([("big/entry.bin", source)], archive, compress=compress)
            for name, script in READERS.items():
                peak, total, seconds = measure(build, archive, script)
                assert total == args.size_mib << 20, (name, total)
                kind = "compressed" if compress else "stored"
                print(f"{kind:<11} {name:<26} {peak:>9.1f} {total / (1 << 20) / seconds:>8.0f}")
            archive.unlink()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
