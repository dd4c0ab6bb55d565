"""Builds and installs the Python module without CMake, offline:
    /usr/bin/python3 -m pip install --no-build-isolation .
It compiles the library's sources into the module and needs pybind11-dev, python3-dev,
libdeflate-dev and zlib1g-dev."""

import pathlib
import re
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

try:  # python3-pybind11 compiles the sources on every CPU; without it they go one by one.
    from pybind11.setup_helpers import ParallelCompile

    ParallelCompile(default=0).install()
except ImportError:
    pass

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
    """The library's sources for this system, as CMakeLists.txt picks them: src/cli holds the
    command-line programs, and src/platform one implementation per system."""
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


sources = list(library_sources())
native = Extension(
    "oxtrel._oxtrel",
    sources=sources + ["python/oxtrel_module.cpp"],
    include_dirs=["src", "include"],
    libraries=["deflate", "z"],
    extra_compile_args=["-std=c++20", "-fvisibility=hidden", "-g0"],
    language="c++",
)

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
