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
        assert archive.test().written == 3
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
