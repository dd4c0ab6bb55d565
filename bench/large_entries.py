#!/usr/bin/env python3
"""Peak memory and throughput of one large entry (1 GiB by default), stored and compressed:
oxtrel -O to /dev/null, extraction, -t, and reading the entry in 1 MiB pieces (Python's
`oxtrel.open(p).open(name).read(1 << 20)` loop where the module has it, else bench's read_entry
tool). Each run is measured with /usr/bin/time -v; the best wall time of --repeat runs is shown.

    bench/large_entries.py --build BUILD [--old-build OLD_BUILD] [--mib 1024] [--dir /dev/shm/...]

BUILD holds oxtrel, oxtrel-pack, bench/read_entry and python/ (the Python module); OLD_BUILD, a
build of an earlier commit, holds at least oxtrel, and its runs are printed beside BUILD's.
The archives need about three times the entry's size in DIR, which is checked first and removed
afterwards. Run by hand: it needs GiBs, so the quick benchmark does not run it.
"""

import argparse
import os
import pathlib
import re
import shutil
import subprocess
import sys

PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
PYTHON_READ = (
    "import oxtrel, sys\n"
    "with oxtrel.open(sys.argv[1]) as a:\n"
    "    f = a.open(sys.argv[2])\n"
    "    while f.read(1 << 20): pass\n"
)


def measure(command, cwd=None, env=None, repeat=3):
    """(best wall seconds, peak RSS MiB of that run, exit status)."""
    best = None
    for _ in range(repeat):
        run = subprocess.run(["/usr/bin/time", "-v"] + command, cwd=cwd, env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE, text=True, errors="replace")
        wall = re.search(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (?:(\d+):)?(\d+):([\d.]+)", run.stderr)
        rss = re.search(r"Maximum resident set size \(kbytes\): (\d+)", run.stderr)
        status = re.search(r"Exit status: (\d+)", run.stderr)
        seconds = int(wall.group(1) or 0) * 3600 + int(wall.group(2)) * 60 + float(wall.group(3))
        result = (seconds, int(rss.group(1)) / 1024, int(status.group(1)) if status else run.returncode)
        if best is None or result[0] < best[0]:
            best = result
        if cwd and os.path.exists(os.path.join(cwd, "data")):
            shutil.rmtree(os.path.join(cwd, "data"))
    return best


def write_entry(path, mib):
    """About half random, half repeated text: it compresses to roughly half."""
    text = (b"mesh vertex normal texture coordinate " * 1000)[:32768]
    with open(path, "wb") as out:
        for i in range(mib * 16):
            out.write(os.urandom(32768))
            out.write(text[i % 97:] + text[:i % 97])


def has_python_open(build):
    env = dict(os.environ, PYTHONPATH=str(build / "python"))
    probe = "import oxtrel; raise SystemExit(0 if hasattr(oxtrel.Archive, 'open') or hasattr(oxtrel, 'open') else 1)"
    ok = subprocess.run([PYTHON, "-c", probe], env=env, capture_output=True).returncode == 0
    if ok:  # the archive object must have an entry-level open()
        probe = "import oxtrel, sys\nwith oxtrel.open(sys.argv[1]) as a: raise SystemExit(0 if hasattr(a, 'open') else 1)"
    return ok, env, probe


def runs_for(build, archive, name, scratch):
    oxtrel = str(build / "oxtrel")
    runs = [("-O > /dev/null", [oxtrel, "-O", str(archive)], None, None),
            ("extract", [oxtrel, "-C", str(scratch), str(archive)], scratch, None),
            ("-t", [oxtrel, "-t", str(archive)], None, None)]
    ok, env, probe = has_python_open(build)
    if ok and subprocess.run([PYTHON, "-c", probe, str(archive)], env=env, capture_output=True).returncode == 0:
        runs.append(("python open().read(1 MiB)", [PYTHON, "-c", PYTHON_READ, str(archive), name], None, env))
    elif (build / "bench" / "read_entry").exists():
        runs.append(("EntryReader 1 MiB reads", [str(build / "bench" / "read_entry"), str(archive), name], None, None))
    return runs


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--old-build")
    parser.add_argument("--mib", type=int, default=1024)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--dir", default="/dev/shm/oxtrel-large-entries")
    args = parser.parse_args()
    build = pathlib.Path(args.build).resolve()
    old = pathlib.Path(args.old_build).resolve() if args.old_build else None
    root = pathlib.Path(args.dir)
    need = 3 * args.mib << 20
    parent = root if root.exists() else root.parent
    free = shutil.disk_usage(parent).free
    if free < need + (1 << 30):
        sys.exit(f"large_entries: {parent} has {free >> 20} MiB free, {need >> 20} MiB needed")
    root.mkdir(parents=True, exist_ok=True)
    try:
        tree = root / "tree"
        (tree / "big").mkdir(parents=True, exist_ok=True)
        write_entry(tree / "big" / "entry.bin", args.mib)
        archives = {"stored": root / "stored.vrk", "compressed": root / "compressed.vrk"}
        subprocess.run([str(build / "oxtrel-pack"), str(archives["stored"]), str(tree)], check=True)
        subprocess.run([str(build / "oxtrel-pack"), "-z", str(archives["compressed"]), str(tree)], check=True)
        shutil.rmtree(tree)
        scratch = root / "out"
        scratch.mkdir(exist_ok=True)
        size = args.mib << 20
        print(f"one entry of {args.mib} MiB; best wall time of {args.repeat}; MiB/s of decoded bytes")
        print(f"{'archive':<11} {'run':<28} {'build':<5} {'peak MiB':>9} {'seconds':>8} {'MiB/s':>8} {'exit':>5}")
        for kind, archive in archives.items():
            builds = [("new", build)] + ([("old", old)] if old else [])
            for label, _, _, _ in runs_for(build, archive, "big/entry.bin", scratch):
                for which, b in builds:
                    match = [r for r in runs_for(b, archive, "big/entry.bin", scratch) if r[0] == label]
                    if not match:
                        continue
                    _, command, cwd, env = match[0]
                    seconds, peak, status = measure(command, cwd, env, args.repeat)
                    print(f"{kind:<11} {label:<28} {which:<5} {peak:>9.1f} {seconds:>8.2f} "
                          f"{size / (1 << 20) / seconds:>8.0f} {status:>5}", flush=True)
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
