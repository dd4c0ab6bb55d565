#!/usr/bin/env python3
"""Times `oxtrel --diff` of two archives that differ in one entry against `cmp` of the same files.

Usage: diff_bench.py --build DIR [--quick] [--runs N] [--work DIR]

DIR holds the build (oxtrel, oxtrel-pack, bench/make_corpus). A textures-like tree (431 MB, 400
files; about 2 MB with --quick) is packed stored and compressed; then one byte of the entry whose
payload lies last in the archive is changed and both are packed again, so the two archives of a
pair differ in that entry alone and `cmp` has to read them to their last entry before it finds the
difference. A compressed pair differs in its tables too (the entry's compressed size changed),
where cmp stops at once, so each pair is also held against cmp of the old archive and a copy of it
(equal files, read to the end): the time any byte comparison of the two files must take. Each
command runs once to warm the page cache and checks its answer (`--diff` prints
exactly `M <path>`, both exit 1), then N alternating timed rounds follow; the medians, the ratio
and peak memory are printed. Target: --diff within 2x the time of cmp reading the files whole. Everything lives in tmpfs
and is deleted at the end.
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

FULL = dict(top="textures", files=400, folders=46, bytes=431_000_000, median=734003, noise=0.12,
            extensions=".dds", seed=12)
QUICK = dict(top="textures", files=8, folders=3, bytes=2_000_000, median=200000, noise=0.12,
             extensions=".dds", seed=12)
TARGET = 2.0


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def timed(cmd):
    start = time.monotonic()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.monotonic() - start


def peak_mib(cmd, work):
    """The command's peak resident memory, by GNU time (which forks from a small process)."""
    report = os.path.join(work, "time.txt")
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + cmd, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    with open(report) as f:
        return int(f.read().split()[-1]) / 1024


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", required=True)
    p.add_argument("--quick", action="store_true")
    p.add_argument("--runs", type=int, default=None)
    p.add_argument("--work", default="/dev/shm/oxtrel-diff-bench")
    args = p.parse_args()
    runs = args.runs or (2 if args.quick else 5)
    build = os.path.abspath(args.build)
    oxtrel, pack = os.path.join(build, "oxtrel"), os.path.join(build, "oxtrel-pack")
    make_corpus = os.path.join(build, "bench", "make_corpus")
    for exe in (oxtrel, pack, make_corpus):
        if not os.access(exe, os.X_OK):
            sys.exit(f"diff bench: {exe} is missing; build the project first")
    shape = QUICK if args.quick else FULL
    work = args.work + ("-quick" if args.quick else "")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    try:
        tree = os.path.join(work, "tree")
        cmd = [make_corpus, "--out", tree]
        for key, value in shape.items():
            cmd += [f"--{key}", str(value)]
        print(f"diff bench: generating {shape['files']} files, {shape['bytes'] / 1e6:.0f} MB", flush=True)
        run(cmd)
        data = os.path.join(tree, "data")
        pairs = {"stored": [], "compressed": []}
        for kind in pairs:
            extra = ["--compress", "--level", "6"] if kind == "compressed" else []
            old = os.path.join(work, f"{kind}-old.vrk")
            run([pack, *extra, old, data], stdout=subprocess.DEVNULL)
            pairs[kind].append(old)
        # The entry whose payload comes last: cmp must read nearly everything to find it.
        listing = run([oxtrel, "--list", "--json", pairs["stored"][0]], capture_output=True, text=True).stdout
        last = max((json.loads(line) for line in listing.splitlines()), key=lambda r: r["offset"])["path"]
        victim = os.path.join(data, last)
        with open(victim, "r+b") as f:
            f.seek(os.path.getsize(victim) // 2)
            byte = f.read(1)
            f.seek(-1, os.SEEK_CUR)
            f.write(bytes([byte[0] ^ 0xFF]))
        for kind in pairs:
            extra = ["--compress", "--level", "6"] if kind == "compressed" else []
            new = os.path.join(work, f"{kind}-new.vrk")
            run([pack, *extra, new, data], stdout=subprocess.DEVNULL)
            pairs[kind].append(new)
        shutil.rmtree(tree)

        commands = {}
        for kind, (old, new) in pairs.items():
            commands[(kind, "oxtrel --diff")] = [oxtrel, "--diff", old, new]
            commands[(kind, "cmp")] = ["cmp", old, new]
            copy = os.path.join(work, f"{kind}-copy.vrk")
            shutil.copyfile(old, copy)
            commands[(kind, "cmp whole")] = ["cmp", old, copy]
            out = subprocess.run(commands[(kind, "oxtrel --diff")], capture_output=True, text=True)
            if out.returncode != 1 or out.stdout != f"M {last}\n":
                sys.exit(f"diff bench: --diff of the {kind} pair gave {out.returncode}: {out.stdout[:500]}{out.stderr}")
            if subprocess.run(commands[(kind, "cmp")], stdout=subprocess.DEVNULL).returncode != 1:
                sys.exit(f"diff bench: cmp finds the {kind} pair the same")
        peaks = {kind: peak_mib(commands[(kind, "oxtrel --diff")], work) for kind in pairs}
        walls = {job: [] for job in commands}
        for _ in range(runs):
            for job, cmd in commands.items():
                walls[job].append(timed(cmd))

        print()
        print(f"oxtrel --diff against cmp: median of {runs} alternating rounds, archives in tmpfs"
              + (" (quick corpus: figures are not meaningful)" if args.quick else ""))
        print(f"load average: {os.getloadavg()[0]:.2f}; changed entry: {last}")
        for kind, (old, _) in pairs.items():
            diff_s = statistics.median(walls[(kind, "oxtrel --diff")])
            cmp_s = statistics.median(walls[(kind, "cmp")])
            whole_s = statistics.median(walls[(kind, "cmp whole")])
            mb = os.path.getsize(old) / 1e6
            ratio = diff_s / whole_s
            verdict = "not judged on the quick corpus" if args.quick else ("met" if ratio <= TARGET else "MISSED")
            print(f"  {kind:<10} {mb:6.0f} MB x 2: --diff {diff_s:6.3f} s (peak {peaks[kind]:.1f} MiB), cmp of the pair "
                  f"{cmp_s:6.3f} s, cmp of equal copies {whole_s:6.3f} s; --diff / whole cmp {ratio:.2f} "
                  f"<= {TARGET:.1f}: {verdict}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
