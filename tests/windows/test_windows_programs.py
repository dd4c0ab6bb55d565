"""oxtrel.exe and oxtrel-pack.exe under Wine against the Linux programs: the same console bytes,
tree and status for every archive whose names Windows can hold; names Windows would read as
something else refused as unsafe; the packer's bytes the same."""

import os
import shutil

import pytest

from conftest import SOURCE_DIR, snapshot, write_tree

SAMPLE = SOURCE_DIR / "examples" / "sample.vrk"

# Names a Linux tree holds and Windows file systems cannot: each must be refused, never written.
REFUSED = [
    b"dev/CON", b"dev/nul.txt", b"dev/Aux.tar.gz", b"dev/com1", b"dev/LPT9.log", b"dev/prn .txt",
    b"odd/stream:name", b"odd/question?", b"odd/star*", b"odd/pipe|", b"odd/quote\"", b"odd/angle<>",
    b"odd/trailing.", b"odd/trailing ", b"odd/tab\there", b"con/inside.txt", b"dots./inside.txt",
]
KEPT = {b"plain/ok.txt": b"ok", b"plain/CONSOLE.txt": b"not a device", b"plain/.hidden": b"h",
        b"plain/caf\xc3\xa9.txt": b"utf-8", b"plain/com10": b"not a device either"}


def run_both(programs, tmp_path, archive, *options):
    """Extracts archive with both programs into fresh directories; returns both runs and trees."""
    runs = {}
    for side in ("linux", "windows"):
        where = tmp_path / side
        where.mkdir()
        shutil.copy(archive, where / "archive.vrk")
        run = programs.linux_run if side == "linux" else programs.wine_run
        done = run("oxtrel", [*options, "archive.vrk"], where)
        runs[side] = (done, snapshot(where / "data") if (where / "data").exists() else {})
    return runs["linux"], runs["windows"]


@pytest.mark.parametrize("options", [[], ["-j", "1"], ["-j", "4"], ["-t"], ["-l"], ["--json"], ["-q"]])
def test_sample_gives_the_same_bytes_tree_and_status(programs, tmp_path, options):
    (linux, linux_tree), (windows, windows_tree) = run_both(programs, tmp_path, SAMPLE, *options)
    assert windows.stdout == linux.stdout
    assert windows.stderr == linux.stderr
    assert windows.returncode == linux.returncode
    assert windows_tree == linux_tree


@pytest.mark.parametrize("compress", [False, True])
def test_packed_tree_round_trips_alike(programs, tmp_path, compress):
    files = {b"a/b/c/deep.bin": bytes(range(256)) * 300, b"top.txt": b"top\n", b"a/empty": b"",
             b"a/b/other.txt": b"x" * 70000, **KEPT}
    write_tree(tmp_path / "tree", files)
    archive = tmp_path / "tree.vrk"
    programs.pack(archive, tmp_path / "tree", *(["--compress"] if compress else []))
    for jobs in ("1", "3"):
        out = tmp_path / f"j{jobs}"
        out.mkdir()
        (linux, linux_tree), (windows, windows_tree) = run_both(programs, out, archive, "-j", jobs)
        assert (windows.stdout, windows.returncode) == (linux.stdout, linux.returncode)
        assert windows_tree == linux_tree == snapshot(tmp_path / "tree")


def test_names_windows_would_misread_are_refused_as_unsafe(programs, tmp_path):
    files = {name: b"must not be written" for name in REFUSED}
    files.update(KEPT)
    write_tree(tmp_path / "tree", files)
    archive = tmp_path / "names.vrk"
    programs.pack(archive, tmp_path / "tree")
    (linux, linux_tree), (windows, windows_tree) = run_both(programs, tmp_path, archive)
    assert linux.returncode == 0 and windows.returncode == 1

    refused = {b"data\\" + name.replace(b"/", b"\\") for name in REFUSED}
    expected = []
    for line in linux.stdout.splitlines():
        fields = line.split(maxsplit=2)
        expected.append(line)
        if len(fields) == 3 and fields[2].replace(b"\\x09", b"\t") in refused:
            expected.append(b"Error: unsafe path at " + line[:8] + b" " + fields[2])
    assert windows.stdout.splitlines() == expected
    assert windows_tree == {path: data for path, data in linux_tree.items()
                            if not any(path.startswith(top) for top in (b"dev", b"odd", b"con", b"dots."))}


def test_windows_1252_names_are_written_as_their_characters(programs, tmp_path):
    # Names that are not UTF-8 came from tools writing the Windows code page.
    write_tree(tmp_path / "tree", {b"cp/caf\xe9 \x80.txt": b"1252", b"cp/\x93quoted\x94": b"q",
                                   b"utf8/caf\xc3\xa9.txt": b"utf-8"})
    archive = tmp_path / "cp.vrk"
    programs.pack(archive, tmp_path / "tree")
    (linux, _), (windows, windows_tree) = run_both(programs, tmp_path, archive)
    assert (windows.stdout, windows.returncode) == (linux.stdout, linux.returncode)
    assert windows_tree == {b"cp/": b"", b"utf8/": b"", b"cp/caf\xc3\xa9 \xe2\x82\xac.txt": b"1252",
                            b"cp/\xe2\x80\x9cquoted\xe2\x80\x9d": b"q", b"utf8/caf\xc3\xa9.txt": b"utf-8"}


def test_paths_longer_than_260_characters(programs, tmp_path):
    # A folder name holds at most 254 bytes; the file name adds the rest.
    deep = b"/".join([b"d" * 60] * 4) + b"/" + b"f" * 200 + b".bin"
    write_tree(tmp_path / "tree", {deep: b"far down", b"near.txt": b"near"})
    archive = tmp_path / "long.vrk"
    programs.pack(archive, tmp_path / "tree")
    (linux, linux_tree), (windows, windows_tree) = run_both(programs, tmp_path, archive)
    assert len(deep) > 400 and len(str(tmp_path)) + len(deep) > 460
    assert (windows.stdout, windows.returncode) == (linux.stdout, linux.returncode)
    assert windows_tree == linux_tree


def test_existing_files_are_replaced_whole_or_kept(programs, tmp_path):
    write_tree(tmp_path / "tree", {b"f/a.txt": b"new a", b"f/b.txt": b"new b"})
    archive = tmp_path / "r.vrk"
    programs.pack(archive, tmp_path / "tree")
    for options in ([], ["-k"]):
        out = tmp_path / ("keep" if options else "replace")
        out.mkdir()
        results = {}
        for side in ("linux", "windows"):
            write_tree(out / side / "data", {b"f/a.txt": b"old a, longer than the new one"})
            shutil.copy(archive, out / side / "archive.vrk")
            run = programs.linux_run if side == "linux" else programs.wine_run
            done = run("oxtrel", [*options, "archive.vrk"], out / side)
            results[side] = (done.stdout, done.returncode, snapshot(out / side / "data"))
        assert results["windows"] == results["linux"]
        # No temporary is left beside the files.
        assert sorted(results["windows"][2]) == [b"f/", b"f/a.txt", b"f/b.txt"]


@pytest.mark.parametrize("options", [[], ["--compress"], ["--compress", "--level", "9", "-j", "3"]])
def test_packer_makes_the_same_bytes(programs, tmp_path, options):
    files = {b"a/b/c/deep.bin": bytes(range(256)) * 500, b"top.txt": b"top\n", b"a/empty": b"",
             b"Mixed/Case.TXT": b"M" * 5000, b"caf\xc3\xa9/\xc3\xa9t\xc3\xa9.txt": b"utf-8 names",
             b"a/b/zz.txt": b"z", b"a/b/AA.txt": b"A"}
    write_tree(tmp_path / "tree", files)
    (tmp_path / "linux").mkdir()
    (tmp_path / "windows").mkdir()
    linux = programs.linux_run("oxtrel-pack", [*options, "out.vrk", "../tree"], tmp_path / "linux")
    windows = programs.wine_run("oxtrel-pack", [*options, "out.vrk", "../tree"], tmp_path / "windows")
    assert (windows.stdout, windows.returncode) == (linux.stdout, linux.returncode)
    assert (tmp_path / "windows" / "out.vrk").read_bytes() == (tmp_path / "linux" / "out.vrk").read_bytes()


def test_links_below_data_are_not_followed(programs, tmp_path):
    write_tree(tmp_path / "tree", {b"link/escaped.txt": b"must stay inside", b"safe/ok.txt": b"ok"})
    archive = tmp_path / "l.vrk"
    programs.pack(archive, tmp_path / "tree")
    outside = tmp_path / "outside"
    outside.mkdir()
    (tmp_path / "data").mkdir()
    os.symlink(outside, tmp_path / "data" / "link")
    shutil.copy(archive, tmp_path / "archive.vrk")
    done = programs.wine_run("oxtrel", ["archive.vrk"], tmp_path)
    if (outside / "escaped.txt").exists():
        pytest.skip("Wine shows a Unix symbolic link as a plain directory, not as a reparse point, so the "
                    "refusal of junctions and links below data cannot be shown here")
    assert done.returncode == 1
    assert b"Error: unsafe path at " in done.stdout
    assert (tmp_path / "data" / "safe" / "ok.txt").read_bytes() == b"ok"


def test_paths_outside_the_code_page_reach_the_programs(programs, tmp_path):
    # Greek and CJK are in no single-byte Windows code page: without the programs' UTF-8 manifest
    # main() would receive them as '?' and open nothing.
    name = "αρχείο 档案.vrk"
    write_tree(tmp_path / "tree", {b"a/one.txt": b"one", b"two.txt": b"two"})
    results = {}
    for side in ("linux", "windows"):
        where = tmp_path / side
        where.mkdir()
        run = programs.linux_run if side == "linux" else programs.wine_run
        runs = [run("oxtrel-pack", [name, "../tree"], where), run("oxtrel", ["-l", name], where)]
        results[side] = [(done.returncode, done.stdout) for done in runs], sorted(os.listdir(where))
    assert results["windows"] == results["linux"]
    runs, files = results["windows"]
    assert [code for code, _ in runs] == [0, 0] and files == [name]
