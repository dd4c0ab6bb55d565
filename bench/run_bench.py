#!/usr/bin/env python3
"""Times oxtrel against common extractors on two asset-like corpora, all in tmpfs.

Usage: run_bench.py --build DIR [--quick] [--runs N] [--work DIR]

DIR holds the Release build (oxtrel, oxtrel-pack, bench/make_corpus). For each corpus it packs a
stored and a compressed archive with oxtrel-pack, a zip (zip -r -6) and a plain tar of the same
data/ tree; checks once that every extractor rebuilds the identical tree (measuring peak memory on
that run); then times every extraction in one hyperfine run, rounds alternating between tools,
each into a fresh empty directory whose removal is not timed. Prints medians, MB/s, ratios, the
half-versus-full scaling check and whether the targets are met. It also times packing each full
corpus with `oxtrel-pack -z` on one thread and on the default number, checking that both write
the very archive the corpus was packed as, and times oxtrel with -j 1 beside its default run,
and prints the speedups of the parallel runs.
--quick uses ~5 MB of corpora and asserts nothing about time.
"""

import argparse
import hashlib
import json
import os
import shutil
import statistics
import subprocess
import sys

FULL = {
    "meshes": dict(top="meshes", files=20000, folders=327, bytes=312_000_000, median=12288,
                   noise=0.12, extensions=".nif,.kf", seed=11),
    "textures": dict(top="textures", files=400, folders=46, bytes=431_000_000, median=734003,
                     noise=0.12, extensions=".dds", seed=12),
}
QUICK = {
    "meshes": dict(top="meshes", files=400, folders=12, bytes=3_000_000, median=6000,
                   noise=0.12, extensions=".nif,.kf", seed=11),
    "textures": dict(top="textures", files=8, folders=3, bytes=2_000_000, median=200000,
                     noise=0.12, extensions=".dds", seed=12),
}

# Compressed oxtrel is held against bsdtar, stored oxtrel against tar; memory against the
# largest entry.
TARGET_VS_BSDTAR = {"meshes": 0.30, "textures": 0.45}
TARGET_VS_TAR = 1.00
SCALING_TOLERANCE = 0.10

TOOLS = ["oxtrel-stored", "oxtrel-compressed", "bsdtar", "unzip", "7z", "tar"]
# Packing the full corpora, compressed, on one thread and on the default number of threads.
PACKERS = ["pack-j1", "pack-default"]
# oxtrel on one thread, beside TOOLS' runs at the default number of threads (full corpora only).
SERIAL_EXTRACTORS = ["oxtrel-stored-j1", "oxtrel-compressed-j1"]
# (what, one-thread job tool, default-jobs job tool, target for their ratio): each is printed as
# a speedup per corpus. Parallel extraction gets its pairs here beside packing.
SPEEDUPS = [("oxtrel-pack -z", "pack-j1", "pack-default", 0.60),
            ("oxtrel compressed", "oxtrel-compressed-j1", "oxtrel-compressed", {"meshes": 0.75, "textures": 0.60}),
            ("oxtrel stored", "oxtrel-stored-j1", "oxtrel-stored", 1.05)]


def halved(shape):
    half = dict(shape)
    half["files"] = shape["files"] // 2
    half["folders"] = max(1, shape["folders"] // 2)
    half["bytes"] = shape["bytes"] // 2
    return half


def run(cmd, **kw):
    subprocess.run(cmd, check=True, **kw)


def file_digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        h.update(f.read())
    return h.hexdigest()


class Bench:
    def __init__(self, args):
        self.build = os.path.abspath(args.build)
        self.work = args.work
        self.out = os.path.join(self.work, "out")
        self.oxtrel = os.path.join(self.build, "oxtrel")
        self.pack = os.path.join(self.build, "oxtrel-pack")
        self.make_corpus = os.path.join(self.build, "bench", "make_corpus")
        self.inflate_floor = os.path.join(self.build, "bench", "inflate_floor")
        for exe in (self.oxtrel, self.pack, self.make_corpus, self.inflate_floor):
            if not os.access(exe, os.X_OK):
                sys.exit(f"bench: {exe} is missing; build the project first")
        # The tree depends on the generator's source, the archives also on the packer binary
        # (which links only the catalogue and pack code, so extractor changes keep the corpora).
        self.tree_stamp = file_digest(os.path.join(os.path.dirname(os.path.abspath(__file__)), "make_corpus.cpp"))
        self.pack_stamp = file_digest(self.pack)

    def corpus(self, name, shape):
        """Generates the tree and its archives unless the same ones are already there."""
        root = os.path.join(self.work, name)
        tree = os.path.join(root, "tree")
        tree_stamp = json.dumps([shape, self.tree_stamp], sort_keys=True)
        archive_stamp = json.dumps([tree_stamp, self.pack_stamp])
        tree_stamp_path = os.path.join(root, "tree.stamp")
        archive_stamp_path = os.path.join(root, "archives.stamp")
        if not (os.path.exists(tree_stamp_path) and open(tree_stamp_path).read() == tree_stamp):
            shutil.rmtree(root, ignore_errors=True)
            os.makedirs(root)
            print(f"bench: generating {name} ({shape['files']} files, {shape['bytes'] / 1e6:.0f} MB)", flush=True)
            cmd = [self.make_corpus, "--out", tree]
            for key, value in shape.items():
                cmd += [f"--{key}", str(value)]
            run(cmd)
            with open(tree_stamp_path, "w") as f:
                f.write(tree_stamp)
        if os.path.exists(archive_stamp_path) and open(archive_stamp_path).read() == archive_stamp:
            return root
        print(f"bench: packing {name}", flush=True)
        for archive in ("stored.vrk", "compressed.vrk", "tree.zip", "tree.tar"):
            if os.path.exists(os.path.join(root, archive)):
                os.remove(os.path.join(root, archive))
        run([self.pack, os.path.join(root, "stored.vrk"), os.path.join(tree, "data")], stdout=subprocess.DEVNULL)
        run([self.pack, "--compress", "--level", "6", os.path.join(root, "compressed.vrk"),
             os.path.join(tree, "data")], stdout=subprocess.DEVNULL)
        run(["zip", "-r", "-6", "-q", os.path.join(root, "tree.zip"), "data"], cwd=tree)
        run(["tar", "--sort=name", "-cf", os.path.join(root, "tree.tar"), "data"], cwd=tree)
        with open(archive_stamp_path, "w") as f:
            f.write(archive_stamp)
        return root

    def command(self, tool, root):
        a = {
            "oxtrel-stored": f"{self.oxtrel} {root}/stored.vrk",
            "oxtrel-compressed": f"{self.oxtrel} {root}/compressed.vrk",
            "oxtrel-stored-j1": f"{self.oxtrel} -j 1 {root}/stored.vrk",
            "oxtrel-compressed-j1": f"{self.oxtrel} -j 1 {root}/compressed.vrk",
            "bsdtar": f"bsdtar -xf {root}/tree.zip",
            "unzip": f"unzip -q -o {root}/tree.zip",
            "7z": f"7z x -y -bd {root}/tree.zip",
            "tar": f"tar -xf {root}/tree.tar",
            "pack-j1": f"{self.pack} --compress --level 6 -j 1 packed.vrk {root}/tree/data",
            "pack-default": f"{self.pack} --compress --level 6 packed.vrk {root}/tree/data",
        }
        return a[tool]

    def fresh_out(self):
        shutil.rmtree(self.out, ignore_errors=True)
        os.makedirs(self.out)

    def check_and_measure(self, tool, root):
        """One extraction outside hyperfine: exit status, identical tree, peak memory (KiB)."""
        self.fresh_out()
        # GNU time forks from a small process, so the child's high-water mark is the tool's own.
        report = os.path.join(self.work, "time.txt")
        proc = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + self.command(tool, root).split(),
                              cwd=self.out, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if proc.returncode != 0:
            sys.exit(f"bench: {tool} on {root} exited with {proc.returncode}: {proc.stderr}")
        if tool in PACKERS:
            if file_digest(os.path.join(self.out, "packed.vrk")) != file_digest(os.path.join(root, "compressed.vrk")):
                sys.exit(f"bench: {tool} on {root} did not write the same archive as the default run")
            with open(report) as f:
                return int(f.read().split()[-1])
        diff = subprocess.run(["diff", "-r", "-q", "--no-dereference", os.path.join(root, "tree", "data"),
                               os.path.join(self.out, "data")], capture_output=True, text=True)
        if diff.returncode != 0:
            sys.exit(f"bench: {tool} on {root} did not rebuild the same tree:\n{diff.stdout[:2000]}{diff.stderr}")
        with open(report) as f:
            return int(f.read().split()[-1])


def describe(root):
    sizes = []
    for d, _, files in os.walk(os.path.join(root, "tree", "data")):
        sizes += [os.path.getsize(os.path.join(d, f)) for f in files]
    sizes.sort()
    return dict(files=len(sizes), bytes=sum(sizes), median=sizes[len(sizes) // 2], largest=sizes[-1],
                zip=os.path.getsize(os.path.join(root, "tree.zip")),
                compressed=os.path.getsize(os.path.join(root, "compressed.vrk")))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", required=True)
    p.add_argument("--quick", action="store_true")
    p.add_argument("--runs", type=int, default=None)
    p.add_argument("--work", default="/dev/shm/oxtrel-bench")
    args = p.parse_args()
    runs = args.runs or (2 if args.quick else 5)
    bench = Bench(args)
    shapes = QUICK if args.quick else FULL
    if args.quick:
        bench.work = args.work = args.work + "-quick"
        bench.out = os.path.join(bench.work, "out")
    os.makedirs(bench.work, exist_ok=True)

    roots, info = {}, {}
    for name, shape in shapes.items():
        roots[name] = bench.corpus(name, shape)
        roots[name + "-half"] = bench.corpus(name + "-half", halved(shape))
    for key, root in roots.items():
        info[key] = describe(root)
    floor = {}
    for name in shapes:
        out = subprocess.run([bench.inflate_floor, os.path.join(roots[name], "compressed.vrk")],
                             check=True, capture_output=True, text=True).stdout.split()
        floor[name] = [float(v) for v in out]
    load_before = os.getloadavg()[0]
    # oxtrel's default number of threads: the CPUs it may run on, at most 64.
    default_jobs = min(len(os.sched_getaffinity(0)), 64)

    # Each job: (corpus key, tool). Half corpora only need oxtrel, for the scaling check.
    jobs = [(name, tool) for name in shapes for tool in TOOLS]
    jobs += [(name + "-half", tool) for name in shapes for tool in TOOLS[:2]]
    jobs += [(name, tool) for name in shapes for tool in PACKERS + SERIAL_EXTRACTORS]

    print("bench: checking every extractor's tree and measuring peak memory", flush=True)
    peak = {job: bench.check_and_measure(job[1], roots[job[0]]) for job in jobs}

    commands = {bench.command(tool, roots[key]): (key, tool) for key, tool in jobs}
    export = os.path.join(bench.work, "hyperfine.json")
    # Round 0 warms caches and is dropped; the tool varies fastest, so the rounds alternate.
    hf = ["hyperfine", "--runs", "1", "--style", "none", "--export-json", export,
          "--prepare", f"rm -rf {bench.out} && mkdir {bench.out}",
          "-L", "job", ",".join(commands), "-L", "round", ",".join(str(r) for r in range(runs + 1)),
          f"cd {bench.out} && {{job}}"]
    print(f"bench: timing {len(jobs)} runs x {runs} rounds with hyperfine", flush=True)
    # Quick runs are too short for hyperfine's shell calibration, which then warns at length.
    run(hf, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL if args.quick else None)
    shutil.rmtree(bench.out, ignore_errors=True)

    walls, cpus = {}, {}
    for result in json.load(open(export))["results"]:
        if result["parameters"]["round"] == "0":
            continue
        job = commands[result["parameters"]["job"]]
        walls.setdefault(job, []).append(result["times"][0])
        cpus.setdefault(job, []).append(result["user"] + result["system"])
    def verdict(ok):
        return "not judged on quick corpora" if args.quick else ("met" if ok else "MISSED")

    wall = {job: statistics.median(v) for job, v in walls.items()}
    cpu = {job: statistics.median(v) for job, v in cpus.items()}

    print()
    print(f"oxtrel benchmark: median of {runs} alternating rounds, output in tmpfs"
          + (" (quick corpora: figures are not meaningful)" if args.quick else ""))
    # Other work on the machine slows every tool; the ratios suffer less than the absolute times.
    print(f"load average: {load_before:.2f} before timing, {os.getloadavg()[0]:.2f} after")
    for name in shapes:
        i = info[name]
        print()
        print(f"{name}-like: {i['files']} files, {i['bytes'] / 1e6:.1f} MB, median {i['median'] / 1024:.1f} KiB, "
              f"largest {i['largest'] / 2**20:.2f} MiB; zlib-6 ratio {i['bytes'] / i['zip']:.2f} (zip), "
              f"{i['bytes'] / i['compressed']:.2f} (vrk)")
        print(f"inflate alone, CPU s: libdeflate {floor[name][0]:.3f}, zlib {floor[name][1]:.3f}")
        print(f"| {'tool':<18} | {'wall s':>7} | {'cpu s':>7} | {'peak MiB':>8} | {'MB/s':>7} | {'/bsdtar':>7} | {'/tar':>6} |")
        print(f"|{'-' * 20}|{'-' * 9}|{'-' * 9}|{'-' * 10}|{'-' * 9}|{'-' * 9}|{'-' * 8}|")
        for tool in TOOLS:
            job = (name, tool)
            w = wall[job]
            print(f"| {tool:<18} | {w:7.3f} | {cpu[job]:7.3f} | {peak[job] / 1024:8.1f} | {i['bytes'] / 1e6 / w:7.0f} "
                  f"| {w / wall[(name, 'bsdtar')]:7.2f} | {w / wall[(name, 'tar')]:6.2f} |")

    print()
    print("scaling, full / half corpus, time per file and per MB (wall judged; CPU for reference):")
    scaling_ok = True
    for name in shapes:
        full, half = info[name], info[name + "-half"]
        for tool in TOOLS[:2]:
            f, h = (name, tool), (name + "-half", tool)
            per_file = (wall[f] / full["files"]) / (wall[h] / half["files"])
            per_mb = (wall[f] / full["bytes"]) / (wall[h] / half["bytes"])
            cpu_per_file = (cpu[f] / full["files"]) / (cpu[h] / half["files"])
            ok = all(abs(r - 1) <= SCALING_TOLERANCE for r in (per_file, per_mb))
            scaling_ok &= ok
            print(f"  {name:<9} {tool:<18} per file {per_file:5.2f}  per MB {per_mb:5.2f}  "
                  f"(CPU per file {cpu_per_file:5.2f})  {verdict(ok)}")

    def paired(a, b):
        """Median of the per-round ratios: both tools of a round ran minutes apart at most."""
        return statistics.median(x / y for x, y in zip(walls[a], walls[b]))

    print()
    print("targets (ratios of medians; the median of per-round ratios in brackets):")
    for name in shapes:
        vs_bsdtar = wall[(name, "oxtrel-compressed")] / wall[(name, "bsdtar")]
        vs_tar = wall[(name, "oxtrel-stored")] / wall[(name, "tar")]
        # Each thread holds at most one payload and its inflated file.
        limit = default_jobs * (2 * info[name]["largest"] / 2**20 + 4) + 16
        mem = max(peak[(name, t)] for t in TOOLS[:2]) / 1024
        print(f"  {name:<9} compressed/bsdtar {vs_bsdtar:.2f} "
              f"({paired((name, 'oxtrel-compressed'), (name, 'bsdtar')):.2f}) <= {TARGET_VS_BSDTAR[name]:.2f}: "
              f"{verdict(vs_bsdtar <= TARGET_VS_BSDTAR[name])}")
        print(f"  {name:<9} stored/tar        {vs_tar:.2f} "
              f"({paired((name, 'oxtrel-stored'), (name, 'tar')):.2f}) <= {TARGET_VS_TAR:.2f}: "
              f"{verdict(vs_tar <= TARGET_VS_TAR)}")
        print(f"  {name:<9} peak memory       {mem:.1f} MiB <= {limit:.1f} MiB: {verdict(mem <= limit)}")
    print(f"  scaling within 10%: {verdict(scaling_ok)}")

    print()
    print(f"threads: {os.cpu_count()} CPUs online, {len(os.sched_getaffinity(0))} usable; "
          "speedups are default jobs / -j 1 (median of per-round ratios in brackets):")
    for what, serial, parallel, targets in SPEEDUPS:
        for name in shapes:
            target = targets[name] if isinstance(targets, dict) else targets
            one, many = (name, serial), (name, parallel)
            ratio = wall[many] / wall[one]
            print(f"  {name:<9} {what:<16} -j 1 {wall[one]:7.3f} s (cpu {cpu[one]:.3f}, {peak[one] / 1024:.1f} MiB), "
                  f"default {wall[many]:7.3f} s (cpu {cpu[many]:.3f}, {peak[many] / 1024:.1f} MiB): "
                  f"{ratio:.2f} ({paired(many, one):.2f}), x{1 / ratio:.2f}; <= {target:.2f}: {verdict(ratio <= target)}")
    if args.quick:
        print("bench: quick run complete (no timing assertions)")


if __name__ == "__main__":
    main()
