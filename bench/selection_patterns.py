#!/usr/bin/env python3
"""Times selection by many patterns: `oxtrel -l` of 10,000 entries (50 folders of 7 subfolders)
with 5,000 patterns, in two sets: anchored ones (half literal paths, half with '**', '*' and '?'),
and ones the selection rules read by name or folder at any level (`file12*.nif`, `sub3`,
`folder7/sub2`, `folder7/*`). Prints the seconds (wall and CPU) and peak memory of each.

Usage: bench/selection_patterns.py <build directory> [another build directory to compare]
(the first build's Python module packs the archive)
"""

import os
import resource
import subprocess
import sys
import tempfile
import time

builds = sys.argv[1:]
sys.path.insert(0, os.path.join(builds[0], "python"))
import oxtrel  # noqa: E402

SETS = {
    "anchored": [f"folder{i % 50}/sub{i % 7}/file{i * 2}.nif" if i % 2 == 0 else f"folder{i % 50}/**/file{i}*.n?f"
                 for i in range(5000)],
    "names and folders": [(f"file{i}*.nif", f"sub{i % 7}", f"folder{i % 50}/sub{i % 7}", f"folder{i}/*")[i % 4]
                          for i in range(5000)],
}

with tempfile.TemporaryDirectory(dir="/dev/shm" if os.path.isdir("/dev/shm") else None) as work:
    archive = os.path.join(work, "selection.vrk")
    oxtrel.pack_entries([(f"folder{i % 50}/sub{i % 7}/file{i}.nif", b"x") for i in range(10000)], archive)
    for build in builds:
        for name, patterns in SETS.items():
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            start = time.monotonic()
            subprocess.run([os.path.join(build, "oxtrel"), "-l", archive, *patterns], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            seconds = time.monotonic() - start
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            cpu = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
            print(f"selection ({build}): 5000 {name} patterns on 10000 entries: {seconds:.2f} s, "
                  f"CPU {cpu:.2f} s, peak {after.ru_maxrss // 1024} MiB")
