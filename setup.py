"""Builds and installs the Python module without CMake, offline:
    /usr/bin/python3 -m pip install --no-build-isolation .
It compiles the library's sources into the module, on every CPU (JOBS=n sets how many), and
needs python3-pybind11, pybind11-dev, python3-dev, libdeflate-dev and zlib1g-dev."""

import pathlib
import re
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

# A build requirement (pyproject.toml): setuptools alone compiles the sources one by one.
from pybind11.setup_helpers import ParallelCompile

ParallelCompile("JOBS", default=0).install()

ROOT = pathlib.Path(__file__).resolve().parent
VERSION = re.search(r"project\(oxtrel VERSION (\d+)\.(\d+)\.(\d+)", (ROOT / "CMakeLists.txt").read_text()).groups()


class BuildWithVersionHeader(build_ext):
    """Writes include/oxtrel/version.h, which CMake would configure, into the build tree first."""

    def run(self):
        generated = pathlib.Path(self.build_temp) / "generated"
        header = (ROOT / "include/oxtrel/version.h.in").read_text()
        for key, value in zip(("MAJOR", "MINOR", "PATCH"), VERSION):
            header = header.replace(f"@PROJECT_VERSION_{key}@", value)
        header = header.replace("@PROJECT_VERSION@", ".".join(VERSION))
        (generated / "oxtrel").mkdir(parents=True, exist_ok=True)
        (generated / "oxtrel/version.h").write_text(header)
        for extension in self.extensions:
            extension.include_dirs.append(str(generated))
        super().run()


def library_sources():
    """The library's sources this system's module calls, as CMakeLists.txt picks them for the
    library: src/cli holds the command-line programs, src/platform one implementation per system
    (the Windows name rules are built elsewhere only for their tests). tests/wheel_sources.py
    compares the two lists."""
    linux = sys.platform.startswith("linux")
    for path in sorted((ROOT / "src").rglob("*.cpp")):
        part = path.relative_to(ROOT / "src").parts
        if part[0] == "cli":
            continue
        if part[0] == "platform":
            wanted = ("posix", "linux") if linux else ("posix",)
            # no_*.cpp stand in for what linux/ gives.
            if part[1] not in wanted or (linux and path.name.startswith("no_")):
                continue
        yield str(path.relative_to(ROOT))


native = Extension(
    "oxtrel._oxtrel",
    sources=list(library_sources()) + ["python/oxtrel_module.cpp"],
    include_dirs=["src", "include"],
    libraries=["deflate", "z"],
    extra_compile_args=["-std=c++20", "-fvisibility=hidden", "-g0"],
    language="c++",
)

# pip runs this file as a script; tests/wheel_sources.py loads it for library_sources() alone.
if __name__ == "__main__":
    setup(
        name="oxtrel",
        version=".".join(VERSION),
        description="Read, extract and pack hashed asset archives",
        packages=["oxtrel"],
        package_dir={"oxtrel": "python/oxtrel"},
        package_data={"oxtrel": ["__init__.pyi", "py.typed"]},
        ext_modules=[native],
        cmdclass={"build_ext": BuildWithVersionHeader},
        python_requires=">=3.9",
    )
