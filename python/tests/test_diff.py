"""oxtrel.diff as a script would use it: by path or on open archives, and a damaged entry."""

import os

import pytest

import oxtrel


def test_changes_by_content_sorted_by_path(tmp_path):
    old = {"b/keep.dds": os.urandom(70000), "b/gone.nif": b"gone", "a/\xe9t\xe9.txt": b"same"}
    new = dict(old, **{"b/keep.dds": old["b/keep.dds"], "b/Gone.nif": b"case twin", "a/\xe9t\xe9.txt": b"other"})
    del new["b/gone.nif"]
    oxtrel.pack_entries(old.items(), tmp_path / "old.vrk", compress=True, level=1)
    oxtrel.pack_entries(new.items(), tmp_path / "new.vrk", compress=True, level=9)
    oxtrel.pack_entries(old.items(), tmp_path / "stored.vrk")
    expected = [("A", "b/Gone.nif"), ("M", "a/\xe9t\xe9.txt"), ("D", "b/gone.nif")]
    expected.sort(key=lambda change: os.fsencode(change[1]))
    changes = oxtrel.diff(tmp_path / "old.vrk", str(tmp_path / "new.vrk"))
    assert changes == expected
    assert [(c.kind, c.path) for c in changes] == expected
    with oxtrel.open(tmp_path / "old.vrk") as older, oxtrel.open(tmp_path / "stored.vrk") as stored:
        assert oxtrel.diff(older, stored) == []  # compressed against stored, same files
        assert oxtrel.diff(older, older) == []


def test_a_damaged_entry_is_named(tmp_path):
    contents = os.urandom(50000)
    oxtrel.pack_entries([("x.dds", contents)], tmp_path / "old.vrk", compress=True)
    oxtrel.pack_entries([("x.dds", contents[:-1] + b"!")], tmp_path / "new.vrk", compress=True)
    damaged = bytearray((tmp_path / "new.vrk").read_bytes())
    damaged[-3] ^= 0xFF  # the stream's checksum
    (tmp_path / "new.vrk").write_bytes(damaged)
    with pytest.raises(oxtrel.UnpackError, match="x.dds in .*new.vrk"):
        oxtrel.diff(tmp_path / "old.vrk", tmp_path / "new.vrk")
