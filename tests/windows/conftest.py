"""Runs the Windows programs under Wine beside the Linux build's, on the same archives and trees."""

import os
import subprocess
from pathlib import Path

import pytest

SOURCE_DIR = Path(__file__).resolve().parents[2]


class Programs:
    def __init__(self, windows_build: Path, linux_build: Path):
        self.windows = windows_build
        self.linux = linux_build
        self.wine = os.environ.get("WINE", "wine")

    def linux_run(self, program, args, cwd):
        return subprocess.run([str(self.linux / program), *args], cwd=cwd, capture_output=True, timeout=300)

    def wine_run(self, program, args, cwd):
        exe = self.windows / f"{program}.exe"
        return subprocess.run([self.wine, str(exe), *args], cwd=cwd, capture_output=True, timeout=300)

    def pack(self, archive: Path, tree: Path, *options):
        done = self.linux_run("oxtrel-pack", [*options, str(archive), str(tree)], archive.parent)
        assert done.returncode == 0, done.stderr


@pytest.fixture(scope="session")
def programs():
    windows = os.environ.get("OXTREL_WINDOWS_BUILD")
    linux = os.environ.get("OXTREL_LINUX_BUILD")
    if not windows or not linux:
        pytest.skip("set OXTREL_WINDOWS_BUILD and OXTREL_LINUX_BUILD (make test-windows does)")
    return Programs(Path(windows), Path(linux))


def write_tree(root: Path, files: dict):
    """files: relative path (bytes, '/' separated) -> contents."""
    for name, contents in files.items():
        path = os.path.join(bytes(root), name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(contents)


def snapshot(root: Path) -> dict:
    """Every entry below root by its relative path (bytes): b'dir/' for directories, else contents."""
    tree = {}
    base = bytes(root)
    for parent, dirs, files in os.walk(base):
        rel = os.path.relpath(parent, base)
        prefix = b"" if rel == b"." else rel + b"/"
        for d in dirs:
            tree[prefix + d + b"/"] = b""
        for f in files:
            with open(os.path.join(parent, f), "rb") as data:
                tree[prefix + f] = data.read()
    return tree
