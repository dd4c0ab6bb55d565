#!/usr/bin/env python3
"""Times replacing one 1 MiB file in the compressed textures and meshes archives with
`oxtrel-pack --update`, against copying the archive with cp and against extracting it and packing
it again (the only way before --update).

Usage: update_bench.py --build DIR [--quick] [--runs N] [--work DIR]

Runs after run_bench.py, whose corpora (WORK/<corpus>/compressed.vrk and its tree) it reuses; all
files stay in tmpfs. Every update writes a new archive with --to, as cp writes a new file; the
result is checked once to hold the new file and every other entry unchanged. Prints medians and
the two ratios with their targets (update <= 1.5 x cp, update <= 0.1 x extract + pack).
--quick runs on run_bench.py's quick corpora and judges nothing.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

TARGET_VS_COPY = 1.5
TARGET_VS_REPACK = 0.1


def timed(cmd, cwd=None):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, cwd=cwd, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def some_entry(tree):
    """The first file of the tree in name order: the one the update replaces."""
    for directory, folders, files in sorted(os.walk(tree)):
        folders.sort()
        if files:
            return os.path.relpath(os.path.join(directory, sorted(files)[0]), tree)
    sys.exit(f"bench: {tree} holds no file")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", required=True)
    p.add_argument("--quick", action="store_true")
    p.add_argument("--runs", type=int, default=None)
    p.add_argument("--work", default="/dev/shm/oxtrel-bench")
    args = p.parse_args()
    build = os.path.abspath(args.build)
    oxtrel, pack = os.path.join(build, "oxtrel"), os.path.join(build, "oxtrel-pack")
    work = args.work + ("-quick" if args.quick else "")
    runs = args.runs or (2 if args.quick else 5)
    scratch = os.path.join(work, "update")
    results = []
    for corpus in ("textures", "meshes"):
        root = os.path.join(work, corpus)
        archive = os.path.join(root, "compressed.vrk")
        if not os.path.exists(archive):
            sys.exit(f"bench: {archive} is missing; run bench/run_bench.py first")
        shutil.rmtree(scratch, ignore_errors=True)
        patch = os.path.join(scratch, "patch")
        replaced = some_entry(os.path.join(root, "tree", "data"))
        os.makedirs(os.path.dirname(os.path.join(patch, replaced)), exist_ok=True)
        with open(os.path.join(patch, replaced), "wb") as f:
            f.write(os.urandom(1 << 20))
        updated = os.path.join(scratch, "updated.vrk")
        copied = os.path.join(scratch, "copied.vrk")
        out = os.path.join(scratch, "out")

        update_cmd = [pack, "--update", "--to", updated, archive, patch]
        subprocess.run(update_cmd, check=True, stdout=subprocess.DEVNULL)
        check = subprocess.run([oxtrel, "-O", updated, replaced], check=True, capture_output=True).stdout
        if check != open(os.path.join(patch, replaced), "rb").read():
            sys.exit(f"bench: the update of {corpus} does not hold the new {replaced}")

        def repack():
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            start = time.perf_counter()
            subprocess.run([oxtrel, archive], check=True, cwd=out, stdout=subprocess.DEVNULL)
            shutil.copyfile(os.path.join(patch, replaced), os.path.join(out, "data", replaced))
            subprocess.run([pack, "--compress", "--level", "6", os.path.join(scratch, "repacked.vrk"),
                            os.path.join(out, "data")], check=True, stdout=subprocess.DEVNULL)
            return time.perf_counter() - start

        times = {"cp": [], "update": [], "extract+pack": []}
        for _ in range(runs):  # alternating, so that a busy moment hits every tool alike
            times["cp"].append(timed(["cp", archive, copied]))
            os.remove(copied)
            times["update"].append(timed(update_cmd))
            os.remove(updated)
            times["extract+pack"].append(repack())
        medians = {tool: statistics.median(t) for tool, t in times.items()}
        results.append((corpus, os.path.getsize(archive), medians))
        shutil.rmtree(scratch, ignore_errors=True)

    print(f"\nReplacing one 1 MiB file in a compressed archive ({runs} runs, medians):")
    print(f"{'corpus':10} {'archive MB':>10} {'cp s':>8} {'update s':>9} {'extract+pack s':>15} "
          f"{'vs cp':>7} {'vs repack':>10}")
    verdicts = []
    for corpus, size, m in results:
        vs_copy, vs_repack = m["update"] / m["cp"], m["update"] / m["extract+pack"]
        print(f"{corpus:10} {size / 1e6:10.1f} {m['cp']:8.3f} {m['update']:9.3f} {m['extract+pack']:15.3f} "
              f"{vs_copy:6.2f}x {vs_repack:9.3f}x")
        verdicts.append(vs_copy <= TARGET_VS_COPY and vs_repack <= TARGET_VS_REPACK)
    if args.quick:
        print("targets (update <= 1.5 x cp, <= 0.1 x extract + pack): not judged on quick corpora")
    else:
        print(f"targets (update <= {TARGET_VS_COPY} x cp, <= {TARGET_VS_REPACK} x extract + pack): "
              f"{'met' if all(verdicts) else 'MISSED'}")


if __name__ == "__main__":
    main()
