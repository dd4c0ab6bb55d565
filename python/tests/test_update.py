"""oxtrel.update: the edits come back on extraction, refusals leave the archive as it was."""

import pytest

import oxtrel


def test_update_replaces_adds_removes_and_refuses(tmp_path):
    archive = tmp_path / "a.vrk"
    oxtrel.pack_entries([("meshes/rock.nif", b"rock"), ("readme.txt", b"hi"), ("sky/cloud.dds", b"c" * 5000)],
                        archive, compress=True)
    edits = tmp_path / "edits"
    (edits / "sky").mkdir(parents=True)
    (edits / "sky" / "cloud.dds").write_bytes(b"new cloud")
    (edits / "new.kf").write_bytes(b"")

    report = oxtrel.update(archive, edits, remove="readme.txt", level=9, jobs=2)
    assert (report.kept, report.replaced, report.added, report.removed, report.files) == (1, 1, 1, 1, 3)
    with oxtrel.open(archive) as a:
        assert sorted(a.namelist()) == ["meshes/rock.nif", "new.kf", "sky/cloud.dds"]
        assert a.read("sky/cloud.dds") == b"new cloud"

    before = archive.read_bytes()
    elsewhere = tmp_path / "b.vrk"
    assert oxtrel.update(archive, remove=["new.kf"], to=elsewhere).files == 2
    assert archive.read_bytes() == before

    (edits / "sky" / "CLOUD.DDS").write_bytes(b"twin")
    refusals = [
        (lambda: oxtrel.update(archive, edits), oxtrel.PackError),
        (lambda: oxtrel.update(archive, remove="nothing/here"), oxtrel.EntryNotFoundError),
        (lambda: oxtrel.update(archive), oxtrel.ArgumentError),
        (lambda: oxtrel.update(archive, remove=3), oxtrel.ArgumentTypeError),
        (lambda: oxtrel.update(archive, remove="new.kf", level=13), oxtrel.ArgumentError),
        (lambda: oxtrel.update(tmp_path / "missing.vrk", remove="x"), FileNotFoundError),
    ]
    for call, error in refusals:
        with pytest.raises(error):
            call()
        assert archive.read_bytes() == before
