#!/usr/bin/env python3
"""Times selection by many patterns: `oxtrel -l` of 10,000 entries with 5,000 patterns (half of
them literal paths, half with '**', '*' and '?'). Prints the seconds and peak memory.

Usage: bench/selection_patterns.py <build directory>   (needs the build's Python module)
"""

import os
import resource
import subprocess
import sys
import tempfile
import time

build = sys.argv[1]
sys.path.insert(0, os.path.join(build, "python"))
import oxtrel  # noqa: E402

with tempfile.TemporaryDirectory(dir="/dev/shm" if os.path.isdir("/dev/shm") else None) as work:
    archive = os.path.join(work, "selection.vrk")
    oxtrel.pack_entries([(f"folder{i % 50}/sub{i % 7}/file{i}.nif", b"x") for i in range(10000)], archive)
    patterns = [f"folder{i % 50}/sub{i % 7}/file{i * 2}.nif" if i % 2 == 0 else f"folder{i % 50}/**/file{i}*.n?f"
                for i in range(5000)]
    start = time.monotonic()
    subprocess.run([os.path.join(build, "oxtrel"), "-l", archive, *patterns], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    seconds = time.monotonic() - start
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    print(f"selection: 5000 patterns on 10000 entries: {seconds:.2f} s, peak {peak // 1024} MiB")
