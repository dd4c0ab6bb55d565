"""The Python module as a script would use it: list, read, extract, test, pack, damage, threads."""

import os
import pathlib
import re
import subprocess
import sys
import threading

import pytest

import oxtrel

SOURCE = pathlib.Path(os.environ.get("OXTREL_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
SAMPLE = SOURCE / "examples" / "sample.vrk"
SAMPLE_TREE = SOURCE / "examples" / "sample"


def tree_files(root):
    return {p.relative_to(root).as_posix(): p.read_bytes() for p in pathlib.Path(root).rglob("*") if p.is_file()}


@pytest.fixture
def packed(tmp_path):
    files = {"meshes/rock.nif": os.urandom(5000), "textures/sky/Cloud.dds": b"x" * 100000, "readme.txt": b"hi"}
    archive = tmp_path / "made.vrk"
    report = oxtrel.pack_entries(files.items(), archive, compress=True, jobs=2)
    assert (report.files, report.folders) == (3, 3)
    return archive, files


def test_listing_and_reading_match_the_source_tree():
    with oxtrel.open(SAMPLE) as archive:
        named = [e for e in archive if e.name is not None]
        assert [e.path for e in named] == [e.path for e in archive.entries() if e.path]
        for entry in named:
            source = SAMPLE_TREE / entry.folder.replace("\\", "/").strip("/") / entry.name
            assert archive.read(entry) == source.read_bytes(), entry.path
            assert entry.size == source.stat().st_size
        assert archive.read("CONFIG\\settings.INI") == (SAMPLE_TREE / "config/settings.ini").read_bytes()
        with pytest.raises(oxtrel.EntryNotFoundError, match="no entry nothing/here"):
            archive.read("nothing/here")


def test_the_entry_list_is_a_sequence_made_on_demand():
    with oxtrel.open(SAMPLE) as archive:
        listed = list(archive)
        entries = archive.entries()
        assert len(entries) == len(archive) == len(listed) > 2
        assert entries[-1] == listed[-1] and entries[1:3] == listed[1:3]
        assert [e.index for e in listed] == list(range(len(listed)))
        with pytest.raises(IndexError):
            entries[len(listed)]
        for entry in listed:
            if entry.name is not None:
                assert archive.find(entry.path).index >= entry.index


def test_extract_with_patterns_then_test(packed, tmp_path):
    archive_path, files = packed
    out = tmp_path / "out"
    out.mkdir()
    with oxtrel.open(archive_path) as archive:
        report = archive.extract(out, patterns=["textures/**"], jobs=2)
        assert report.written == 1 and report.problems == ()
        assert tree_files(out) == {"data/textures/sky/Cloud.dds": files["textures/sky/Cloud.dds"]}
        assert archive.verify().written == 3
        assert archive.test() is None
        with pytest.raises(oxtrel.ExtractError, match="no entry matches sounds/") as raised:
            archive.extract(out, patterns=["sounds/*"])
        assert raised.value.report.unused_patterns == ("sounds/*",)


@pytest.mark.parametrize("damage, error", [
    (lambda b: b[:40], oxtrel.TruncatedError),
    (lambda b: b[:-3], oxtrel.TruncatedError),
    (lambda b: b[:-20] + bytes(x ^ 0x5A for x in b[-20:]), oxtrel.UnpackError),
])
def test_damaged_archive_raises_the_matching_error(packed, tmp_path, damage, error):
    archive_path, _ = packed
    damaged = tmp_path / "damaged.vrk"
    damaged.write_bytes(damage(archive_path.read_bytes()))
    with pytest.raises(error, match=re.escape(str(damaged))) as raised:
        with oxtrel.open(damaged) as archive:
            for entry in archive:
                archive.read(entry)
    assert isinstance(raised.value, oxtrel.Error)
    with pytest.raises(oxtrel.OpenError, match="No such file"):
        oxtrel.open(tmp_path / "absent.vrk")


def test_pack_then_read_back_and_pack_refusals(tmp_path):
    archive_path = tmp_path / "sample.vrk"
    report = oxtrel.pack(SAMPLE_TREE, archive_path, compress=True, level=9)
    assert report.bytes_out == archive_path.stat().st_size
    with oxtrel.open(archive_path) as archive:
        assert {e.path: archive.read(e) for e in archive} == tree_files(SAMPLE_TREE)
    with pytest.raises(oxtrel.ArgumentError, match="level 13"):
        oxtrel.pack(SAMPLE_TREE, tmp_path / "x.vrk", compress=True, level=13)
    with pytest.raises(oxtrel.PackError):
        oxtrel.pack_entries([("a/Name.txt", b"1"), ("a/name.TXT", b"2")], tmp_path / "x.vrk")
    with pytest.raises(oxtrel.ArgumentError, match=r"\.\."):
        oxtrel.pack_entries([("../escape.txt", b"1")], tmp_path / "x.vrk")
    assert not (tmp_path / "x.vrk").exists()


def test_paths_holding_a_nul_and_file_folder_clashes_are_refused(packed, tmp_path):
    archive_path, _ = packed
    (tmp_path / "tree").mkdir()
    (tmp_path / "tree" / "f").write_bytes(b"x")
    calls = [
        lambda: oxtrel.pack(str(tmp_path / "tree") + "\0x", tmp_path / "x.vrk"),
        lambda: oxtrel.pack(tmp_path / "tree", str(tmp_path / "x.vrk") + "\0x"),
        lambda: oxtrel.pack_entries([("a\0b", b"1")], tmp_path / "x.vrk"),
        lambda: oxtrel.pack_entries([("a", str(tmp_path / "tree" / "f") + "\0x")], tmp_path / "x.vrk"),
        lambda: oxtrel.pack_entries([("a", b"1"), ("a/b", b"2")], tmp_path / "x.vrk"),
        lambda: oxtrel.open(str(archive_path) + "\0x"),
        lambda: oxtrel.open(archive_path).extract(str(tmp_path / "out") + "\0x"),
    ]
    for call in calls:
        with pytest.raises(ValueError) as raised:
            call()
        assert isinstance(raised.value, oxtrel.Error)
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted([archive_path.name, "tree"])


def test_two_threads_read_one_archive(packed):
    archive_path, files = packed
    failures = []
    with oxtrel.open(archive_path) as archive:
        def reader():
            for _ in range(30):
                for path, expected in files.items():
                    if archive.read(path) != expected:
                        failures.append(path)
        threads = [threading.Thread(target=reader) for _ in range(2)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    assert failures == []


def test_closed_archive_refuses_reads(packed):
    archive_path, _ = packed
    archive = oxtrel.open(archive_path)
    archive.close()
    with pytest.raises(oxtrel.Error, match="closed"):
        archive.read("readme.txt")


def test_readme_example_runs(tmp_path):
    readme = (SOURCE / "README.md").read_text()
    example = readme.split("## Use it from Python", 1)[1].split("```python\n", 1)[1].split("```", 1)[0]
    script = tmp_path / "example.py"
    script.write_text(example)
    subprocess.run([sys.executable, str(script), str(SAMPLE)], check=True, capture_output=True,
                   env=dict(os.environ))


def test_names_that_are_not_utf8_come_as_surrogate_escapes_and_bytes(tmp_path):
    # A folder, a file and a link named with byte 0xE9, packed from a tree and from memory.
    tree = os.fsencode(tmp_path) + b"/caf\xe9"
    os.makedirs(tree + b"/d\xe9j\xe0")
    with open(tree + b"/d\xe9j\xe0/n\xe9.txt", "wb") as f:
        f.write(b"one")
    os.symlink(b"n\xe9.txt", tree + b"/d\xe9j\xe0/l\xe9nk")
    archive_path = tree + b"/../a\xe9.vrk"
    report = oxtrel.pack(tree, archive_path)
    assert report.files == 1
    assert any("l\udce9nk" in note for note in report.notes)  # the skipped link, named
    with oxtrel.open(archive_path) as archive:
        assert archive.path == os.fsdecode(archive_path)
        [entry] = archive
        assert (entry.folder_bytes, entry.name_bytes, entry.path_bytes) == (b"d\xe9j\xe0", b"n\xe9.txt",
                                                                            b"d\xe9j\xe0/n\xe9.txt")
        assert entry.path == os.fsdecode(entry.path_bytes) and os.fsencode(entry.path) == entry.path_bytes
        for key in (entry.path, entry.path_bytes):
            assert archive.find(key) == entry
            assert archive.read(key) == b"one"
        out = tmp_path / "out"
        out.mkdir()
        assert archive.extract(os.fsencode(out), patterns=[entry.path_bytes]).written == 1
        assert (out / "data" / os.fsdecode(b"d\xe9j\xe0/n\xe9.txt")).read_bytes() == b"one"
        with pytest.raises(oxtrel.ExtractError) as raised:
            archive.extract(out, patterns=["x\udce9/*"])
        assert raised.value.report.unused_patterns == ("x\udce9/*",)
    # A refusal whose message holds such a path is still an oxtrel error.
    bad = os.fsencode(tmp_path) + b"/bad"
    os.makedirs(bad)
    open(bad + b"/a\\\xe9.txt", "wb").close()  # a '\' cannot be stored in a name
    with pytest.raises(oxtrel.PackError, match="\udce9"):
        oxtrel.pack(bad, tmp_path / "x.vrk")
    with pytest.raises(oxtrel.OpenError, match="\udce9"):
        oxtrel.open(b"/nonexistent/\xe9.vrk")


class _PathLike:
    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return self.path


@pytest.mark.parametrize("call, error, words", [
    (lambda a, d: a.extract(d, jobs=-1), oxtrel.ArgumentError, "jobs -1"),
    (lambda a, d: a.extract(d, jobs=2**40), oxtrel.ArgumentError, "jobs 1099511627776"),
    (lambda a, d: a.test(jobs="2"), oxtrel.ArgumentTypeError, "jobs must be an int"),
    (lambda a, d: a.extract(d, patterns=3), oxtrel.ArgumentTypeError, "patterns must be a pattern"),
    (lambda a, d: a.extract(d, patterns=[3]), oxtrel.ArgumentTypeError, "patterns must hold"),
    (lambda a, d: a.verify(excludes=[b"x", None]), oxtrel.ArgumentTypeError, "excludes must hold"),
    (lambda a, d: a.read(7), oxtrel.ArgumentTypeError, "path must be"),
    (lambda a, d: oxtrel.pack(d, d / "x.vrk", compress=True, level=10**20), oxtrel.ArgumentError, "level 1"),
    (lambda a, d: oxtrel.pack(d, d / "x.vrk", compress=True, level="6"), oxtrel.ArgumentTypeError,
     "level must be an int"),
    (lambda a, d: oxtrel.pack(d, d / "x.vrk", level=9), oxtrel.ArgumentError, "only with compress=True"),
    (lambda a, d: oxtrel.pack_entries([], d / "x.vrk", level=6), oxtrel.ArgumentError, "only with compress=True"),
    (lambda a, d: oxtrel.pack_entries([("a.txt", 5)], d / "x.vrk"), oxtrel.ArgumentTypeError, "contents of a.txt"),
    (lambda a, d: oxtrel.pack_entries([("a.txt", b"1")], d / "x.vrk", jobs=65), oxtrel.ArgumentError, "jobs 65"),
])
def test_values_out_of_range_or_of_the_wrong_type_raise_oxtrel_errors(packed, tmp_path, call, error, words):
    archive_path, _ = packed
    with oxtrel.open(_PathLike(os.fsencode(archive_path))) as archive:
        with pytest.raises(error, match=re.escape(words)) as raised:
            call(archive, tmp_path)
    assert isinstance(raised.value, oxtrel.Error)
    assert not (tmp_path / "x.vrk").exists()


def test_length_and_iteration_outlive_close(packed):
    archive_path, files = packed
    archive = oxtrel.open(archive_path)
    listed = list(archive)
    archive.close()
    assert len(archive) == len(files)
    assert list(archive) == listed


def test_random_paths_and_patterns_raise_only_oxtrel_errors(packed, tmp_path):
    # Paths and patterns of arbitrary bytes and text, through every call that takes them: each
    # answers or raises an oxtrel.Error, never an encoding or binding error.
    import random
    rng = random.Random(20)
    alphabet = [b"a", b"/", b"\\", b"*", b"**", b"?", b"[", b"]", b"!", b".", b"..", b"\xe9", b"\xff", b"\x01", b"A"]
    archive_path, _ = packed
    with oxtrel.open(archive_path) as archive:
        for round_ in range(300):
            raw = b"".join(rng.choice(alphabet) for _ in range(rng.randrange(8)))
            value = raw if round_ % 2 else os.fsdecode(raw)
            try:
                found = archive.find(value)
                assert found is None or isinstance(found, oxtrel.Entry)
                archive.verify(patterns=[value], excludes=raw, check=False)
                oxtrel.pack_entries([(value, b"x")], tmp_path / "r.vrk")
            except oxtrel.Error:
                pass
