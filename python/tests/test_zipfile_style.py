"""The zipfile-style surface: one tree packed as a .vrk and written as a zip must answer alike;
arguments, errors and reports as Python users expect them."""

import errno
import os
import pathlib
import zipfile

import pytest

import oxtrel

TREE = {
    "readme.txt": b"top level\nsecond line\n",
    "meshes/rock.nif": os.urandom(3000),
    "meshes/props/barrel.nif": b"barrel" * 700,
    "textures/sky/Cloud.dds": bytes(range(256)) * 400,
    "textures/empty.dds": b"",
    "sounds/a.wav": b"RIFF" + os.urandom(50000),
}


def tree_files(root):
    return {p.relative_to(root).as_posix(): p.read_bytes() for p in pathlib.Path(root).rglob("*") if p.is_file()}


@pytest.fixture(params=[False, True], ids=["stored", "compressed"])
def both(request, tmp_path):
    """(archive path, zip path) holding TREE."""
    vrk = tmp_path / "tree.vrk"
    oxtrel.pack_entries(TREE.items(), vrk, compress=request.param)
    zip_path = tmp_path / "tree.zip"
    with zipfile.ZipFile(zip_path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in TREE.items():
            z.writestr(name, data)
    return vrk, zip_path


def test_listing_lookup_and_reads_answer_as_zipfile_does(both):
    vrk, zip_path = both
    with oxtrel.open(vrk) as a, zipfile.ZipFile(zip_path) as z:
        assert sorted(a.namelist()) == sorted(z.namelist())
        assert a.namelist() == [info.filename for info in a.infolist()] == [e.path for e in a if e.name]
        for name in z.namelist():
            mine, theirs = a.getinfo(name), z.getinfo(name)
            assert (mine.filename, mine.file_size, mine.is_dir()) == (theirs.filename, theirs.file_size, False)
            assert mine.compress_size == mine.stored_size
            assert a[name] == mine and name in a and mine in a
            assert a.read(name) == a.read(mine) == z.read(name)
        for absent in ("nothing/here", "meshes", "rock.nif"):
            assert absent not in a
            with pytest.raises(KeyError):
                z.getinfo(absent)
            with pytest.raises(KeyError, match=absent):
                a.getinfo(absent)
            with pytest.raises(KeyError):
                a[absent]
        assert 3 not in a and None not in a
        # Same path rules as find(): either separator, ASCII case folded when nothing matches exactly.
        assert a.getinfo("TEXTURES\\sky\\cloud.DDS").path == "textures/sky/Cloud.dds"


def test_extractall_takes_members_as_names_or_entries_never_as_patterns(both, tmp_path):
    vrk, zip_path = both
    with oxtrel.open(vrk) as a, zipfile.ZipFile(zip_path) as z:
        for members in (None, ["meshes/rock.nif", "readme.txt"], [a.getinfo("sounds/a.wav")], "readme.txt", []):
            ours, theirs = tmp_path / "ours", tmp_path / "theirs"
            a.extractall(ours, members=members)
            z.extractall(theirs, members=[members] if isinstance(members, str) else
                         None if members is None else [getattr(m, "path", m) for m in members])
            expected = tree_files(theirs) if theirs.exists() else {}
            assert {p[len("data/"):]: d for p, d in tree_files(ours).items()} == expected, members
            for done in (ours, theirs):
                if done.exists():
                    for p in sorted(done.rglob("*"), reverse=True):
                        p.rmdir() if p.is_dir() else p.unlink()
        # A name holding glob characters is that name only; an unknown member is a KeyError.
        with pytest.raises(KeyError):
            a.extractall(tmp_path / "x", members=["*.nif"])
        with pytest.raises(TypeError, match="members takes an Entry"):
            a.extractall(tmp_path / "x", members=[3])
        assert not (tmp_path / "x" / "data").exists()


@pytest.mark.parametrize("patterns, excludes", [
    ("textures", ()), ("textures/**", "**/empty.dds"), (b"meshes/**", None), (pathlib.PurePosixPath("readme.txt"), ()),
    (("meshes/*.nif", "sounds/*"), [b"sounds/a.wav"]),
])
def test_a_single_pattern_is_one_pattern_like_a_list_of_one(both, tmp_path, patterns, excludes):
    vrk, _ = both

    def listed(value):
        if value is None:
            return []
        return [value] if isinstance(value, (str, bytes, os.PathLike)) else list(value)

    with oxtrel.open(vrk) as a:
        as_given = a.verify(patterns=patterns, excludes=excludes, check=False)
        as_lists = a.verify(patterns=listed(patterns), excludes=listed(excludes), check=False)
        assert as_given == as_lists
        a.extract(tmp_path / "given", patterns=patterns, excludes=excludes, check=False)
        a.extract(tmp_path / "lists", patterns=listed(patterns), excludes=listed(excludes), check=False)
    assert tree_files(tmp_path / "given") == tree_files(tmp_path / "lists")


@pytest.mark.parametrize("where, number, kind", [
    ("absent.vrk", errno.ENOENT, FileNotFoundError),
    ("no/such/dir/a.vrk", errno.ENOENT, FileNotFoundError),
    (".", errno.EISDIR, IsADirectoryError),
    ("tree.vrk/a.vrk", errno.ENOTDIR, NotADirectoryError),
    ("a" * 300 + ".vrk", errno.ENAMETOOLONG, OSError),
])
def test_the_system_refusing_an_open_is_the_standard_oserror_subclass(both, tmp_path, where, number, kind):
    vrk, _ = both
    path = str(tmp_path / where) if where != "tree.vrk/a.vrk" else str(vrk) + "/a.vrk"
    for given in (path, os.fsencode(path), pathlib.Path(path)):
        with pytest.raises(kind) as raised:
            oxtrel.open(given)
        error = raised.value
        assert isinstance(error, oxtrel.OpenError) and isinstance(error, oxtrel.Error)
        assert (error.errno, error.strerror, error.filename) == (number, os.strerror(number), path)
        assert str(error) == f"cannot open {path}: {os.strerror(number)}"
    assert oxtrel.is_archive(path) is False


def test_write_refusals_carry_errno_and_the_file(both, tmp_path):
    vrk, _ = both
    (tmp_path / "file").write_bytes(b"")
    with pytest.raises(NotADirectoryError) as raised:
        oxtrel.pack_entries([("a", b"1")], tmp_path / "file" / "x.vrk")
    assert isinstance(raised.value, oxtrel.Error) and raised.value.errno == errno.ENOTDIR
    with oxtrel.open(vrk) as a, pytest.raises(oxtrel.OpenError) as raised:
        a.extract(tmp_path / "file" / "out")
    assert isinstance(raised.value, NotADirectoryError)


def test_extract_makes_a_missing_destination_and_reports_entry_paths(both, tmp_path):
    vrk, _ = both
    out = tmp_path / "new" / "nested"
    with oxtrel.open(vrk) as a:
        assert a.extract(out, jobs=None).written == len(TREE)
        assert {p[len("data/"):] for p in tree_files(out)} == set(TREE)
        # Directories where two files go: the problems name them as Entry.path does, the
        # top-level file (the folder with the empty name) and a nested one alike.
        for path in ("readme.txt", "meshes/props/barrel.nif"):
            target = tmp_path / "blocked" / "data" / path
            target.mkdir(parents=True)
            (target / "keep").write_bytes(b"")
        report = a.extract(tmp_path / "blocked", jobs=2, check=False)
        assert sorted(report.problems) == [("cannot write", "meshes/props/barrel.nif"), ("cannot write", "readme.txt")]


def test_test_names_the_first_entry_that_cannot_be_read_back(tmp_path):
    vrk = tmp_path / "tree.vrk"
    oxtrel.pack_entries(TREE.items(), vrk, compress=True)
    with oxtrel.open(vrk) as a:
        assert a.test() is None
        victims = [e for e in a.infolist() if e.stored_size > 100]
    data = bytearray(vrk.read_bytes())
    for victim in victims[1:]:
        middle = victim.offset + victim.stored_size // 2
        data[middle:middle + 8] = bytes(b ^ 0xA5 for b in data[middle:middle + 8])
    damaged = tmp_path / "damaged.vrk"
    damaged.write_bytes(bytes(data))
    with oxtrel.open(damaged) as a:
        assert a.test(jobs=2) == victims[1].path
        assert [p for _, p in a.verify(check=False).problems] == [v.path for v in victims[1:]]


def test_pack_takes_its_arguments_by_keyword_and_jobs_default_to_every_cpu(tmp_path):
    source = tmp_path / "src"
    for path, data in TREE.items():
        (source / path).parent.mkdir(parents=True, exist_ok=True)
        (source / path).write_bytes(data)
    made = [oxtrel.pack(directory=source, archive=tmp_path / "k.vrk", compress=True, level=9),
            oxtrel.pack(source, tmp_path / "p.vrk", True, 9, 1),
            oxtrel.pack(source, tmp_path / "d.vrk", compress=True, level=9, jobs=0)]
    assert len({(r.files, r.bytes_out) for r in made}) == 1
    assert len({(tmp_path / n).read_bytes() for n in ("k.vrk", "p.vrk", "d.vrk")}) == 1
