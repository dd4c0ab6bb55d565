#!/usr/bin/env python3
"""Prints the peak resident memory (from /usr/bin/time -v) of every way of reading the archives
that bench/hostile_archives.py writes: oxtrel -t, -l and extraction at -j 1 and -j 2, the C++
find_entry tool and the Python module's open and listing.

    bench/measure_memory.py --build BUILD_DIR --archives DIR [--skip-extract NAME ...]

The build needs the benchmark tools and the Python module (a Release build with the defaults).
Extraction goes to a scratch directory beside the archives and is removed afterwards. Every run
is limited to 4 GiB of address space.
"""

import argparse
import os
import pathlib
import re
import resource
import shutil
import subprocess
import sys

# The interpreter the module is built for (Debian's), else this one.
PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
PYTHON_LISTING = "import oxtrel, sys; a = oxtrel.open(sys.argv[1]); print(sum(1 for e in a.entries()))"


# Runs that would take more than this much address space fail instead (exit 3 from oxtrel), so a
# measurement never starves a shared machine.
LIMIT = 4 << 30


def limit_memory():
    resource.setrlimit(resource.RLIMIT_AS, (LIMIT, LIMIT))


def peak(command, cwd=None, env=None):
    """(peak RSS in KiB, exit status) of command."""
    run = subprocess.run(["/usr/bin/time", "-v"] + command, cwd=cwd, env=env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True, errors="replace", preexec_fn=limit_memory)
    found = re.search(r"Maximum resident set size \(kbytes\): (\d+)", run.stderr)
    status = re.search(r"Exit status: (\d+)", run.stderr)
    return (int(found.group(1)) if found else -1, int(status.group(1)) if status else run.returncode)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--archives", required=True)
    parser.add_argument("--skip-extract", nargs="*", default=["small-entries", "sparse-folders"])
    args = parser.parse_args()
    build = pathlib.Path(args.build).resolve()
    oxtrel = str(build / "oxtrel")
    env = dict(os.environ, PYTHONPATH=str(build / "python"))
    print(f"{'archive':<18} {'run':<22} {'peak MiB':>9} {'exit':>5}")
    for archive in sorted(pathlib.Path(args.archives).glob("*.vrk")):
        name = archive.stem
        runs = []
        for jobs in ("1", "2"):
            runs.append((f"-t -j {jobs}", [oxtrel, "-t", "-j", jobs, str(archive)], None))
            runs.append((f"-l -j {jobs}", [oxtrel, "-l", "-j", jobs, str(archive)], None))
            if name not in args.skip_extract:
                runs.append((f"extract -j {jobs}", [oxtrel, "-j", jobs, str(archive)], "scratch"))
        runs.append(("find_entry", [str(build / "bench" / "find_entry"), str(archive), "f/none"], None))
        runs.append(("python open+list", [PYTHON, "-c", PYTHON_LISTING, str(archive)], None))
        for label, command, scratch in runs:
            cwd = None
            if scratch:
                cwd = archive.parent / f"{name}.scratch"
                shutil.rmtree(cwd, ignore_errors=True)
                cwd.mkdir()
            kib, status = peak(command, cwd=cwd, env=env)
            if cwd:
                shutil.rmtree(cwd, ignore_errors=True)
            print(f"{name:<18} {label:<22} {kib / 1024:9.1f} {status:5d}", flush=True)


if __name__ == "__main__":
    main()
