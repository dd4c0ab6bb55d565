"""setup.py compiles exactly the library sources CMake builds into the module on this system: one
missing would leave the wheel's module with an undefined symbol found only at import, one too many
is a program's or another system's file.

Arguments: the source directory, then the library's sources as CMake lists them."""

import runpy
import sys

source_dir, *built = sys.argv[1:]
setup = runpy.run_path(f"{source_dir}/setup.py", run_name="wheel_sources")
# Built into every library so that every build's tests reach it; only Windows' calls use it.
built = set(built) - {"src/platform/windows/windows_names.cpp"}
compiled = set(setup["library_sources"]())
problems = [f"setup.py misses {path}" for path in sorted(built - compiled)]
problems += [f"setup.py compiles {path}, which the library does not hold" for path in sorted(compiled - built)]
if problems:
    sys.exit("\n".join(problems))
