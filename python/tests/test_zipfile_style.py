"""The zipfile-style surface: one tree packed as a .vrk and written as a zip must answer alike;
arguments, errors and reports as Python users expect them."""

import contextlib
import errno
import os
import pathlib
import pickle
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
        again = pickle.loads(pickle.dumps(error))
        assert (type(again), again.errno, again.filename, str(again)) == (type(error), number, path, str(error))
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


def _operations(rng, size):
    """A random script of file operations, as (name, arguments)."""
    ops = []
    for _ in range(40):
        kind = rng.choice(["read", "read", "readinto", "readline", "seek", "seek", "tell", "readall"])
        if kind == "read":
            ops.append(("read", (rng.choice([0, 1, 7, 4096, 65536, 200000, size + 5]),)))
        elif kind == "readinto":
            ops.append(("readinto", (rng.choice([1, 100, 70000]),)))
        elif kind == "seek":
            whence = rng.choice([os.SEEK_SET, os.SEEK_CUR, os.SEEK_END])
            ops.append(("seek", (rng.randrange(-size - 10, size + 10), whence)))
        else:
            ops.append((kind, ()))
    return ops


def _apply(f, op):
    kind, args = op
    if kind == "readinto":
        buffer = bytearray(args[0])
        count = f.readinto(buffer)
        return count, bytes(buffer[:count])
    if kind == "readall":
        return f.read()
    return getattr(f, kind)(*args)


def test_open_streams_and_seeks_as_zipfile_entry_files_do(both):
    import random
    vrk, zip_path = both
    rng = random.Random(7)
    with oxtrel.open(vrk) as a, zipfile.ZipFile(zip_path) as z:
        for name, data in TREE.items():
            for round_ in range(3):
                ops = _operations(rng, len(data))
                with a.open(name) as mine, z.open(name) as theirs:
                    assert (mine.readable(), mine.seekable(), mine.name) == (True, True, name)
                    for op in ops:
                        # zipfile stops a seek at either end; so does oxtrel.
                        assert _apply(mine, op) == _apply(theirs, op), (name, op)
                assert mine.closed
                with pytest.raises(ValueError):
                    mine.read(1)


def test_an_entry_file_outlives_the_archive_and_reports_damage_at_its_end(tmp_path):
    vrk = tmp_path / "tree.vrk"
    oxtrel.pack_entries(TREE.items(), vrk, compress=True)
    a = oxtrel.open(vrk)
    f = a.open(a.getinfo("sounds/a.wav"))
    lines = a.open("readme.txt")
    a.close()
    with pytest.raises(ValueError, match="closed"):
        a.open("readme.txt")
    assert f.read() == TREE["sounds/a.wav"] and f.read() == b""
    assert list(lines) == TREE["readme.txt"].splitlines(keepends=True)
    f.close()
    with pytest.raises(TypeError):
        oxtrel.open(vrk).open(3)

    with oxtrel.open(vrk) as a:
        victim = a.getinfo("textures/sky/Cloud.dds")
    data = bytearray(vrk.read_bytes())
    end = victim.offset + victim.stored_size
    data[end - 2:end] = bytes(b ^ 0xFF for b in data[end - 2:end])  # the checksum's last bytes
    vrk.write_bytes(bytes(data))
    with oxtrel.open(vrk) as a, a.open(victim.path) as f:
        assert f.read(1000) == TREE[victim.path][:1000]
        with pytest.raises(oxtrel.UnpackError):
            while f.read(1 << 16):
                pass


def test_two_threads_read_their_own_entry_files(both):
    import threading
    vrk, _ = both
    failures = []
    with oxtrel.open(vrk) as a:
        def reader(name):
            for _ in range(20):
                with a.open(name) as f:
                    got = b"".join(iter(lambda: f.read(5000), b""))
                if got != TREE[name]:
                    failures.append(name)
        threads = [threading.Thread(target=reader, args=(n,)) for n in ("sounds/a.wav", "textures/sky/Cloud.dds")]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    assert failures == []


def test_memory_stays_flat_while_streaming_a_large_entry(tmp_path):
    # Peak resident memory of a fresh interpreter reading a 96 MiB compressed entry in 1 MiB
    # pieces, against its peak once the archive is open: the entry never sits in memory.
    import subprocess
    import sys
    source = tmp_path / "big.bin"
    with source.open("wb") as out:
        piece = bytes(range(256)) * 4096
        for _ in range(96):
            out.write(piece)
    vrk = tmp_path / "big.vrk"
    oxtrel.pack_entries([("big.bin", source)], vrk, compress=True)
    script = ("import resource, sys, oxtrel\n"
              "a = oxtrel.open(sys.argv[1])\n"
              "f = a.open('big.bin'); f.read(1 << 20)\n"
              "before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss\n"
              "total = 1 << 20\n"
              "while True:\n"
              "    piece = f.read(1 << 20)\n"
              "    if not piece: break\n"
              "    total += len(piece)\n"
              "print(total, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before)\n")
    run = subprocess.run([sys.executable, "-c", script, str(vrk)], capture_output=True, text=True, check=True,
                         env=dict(os.environ))
    total, grown_kib = map(int, run.stdout.split())
    assert total == 96 << 20
    assert grown_kib < 16 << 10, f"peak grew by {grown_kib} KiB while streaming"


@pytest.mark.parametrize("how", ["descriptor", "seeked descriptor", "BytesIO", "bytearray reader"])
def test_open_takes_binary_file_objects(both, how):
    import io
    vrk, _ = both
    data = vrk.read_bytes()
    if how == "descriptor":
        file = vrk.open("rb")
    elif how == "seeked descriptor":  # the archive starts where the file stands
        file = open_at(vrk, b"JUNK" * 3)
    elif how == "BytesIO":
        file = io.BytesIO(data)
    else:
        class Reader:
            def read(self):
                return bytearray(data)
        file = Reader()
    with file if hasattr(file, "close") else contextlib.nullcontext(file) as given:
        assert oxtrel.is_archive(given)
        with oxtrel.open(given) as a:
            assert sorted(a.namelist()) == sorted(TREE)
            with a.open("meshes/rock.nif") as f:
                assert f.read() == TREE["meshes/rock.nif"]
            if isinstance(given, io.BytesIO):
                given.seek(0)
                given.write(b"\0" * len(data))  # the archive holds its own copy
                assert a.read("readme.txt") == TREE["readme.txt"]


def open_at(vrk, prefix):
    import tempfile
    file = tempfile.TemporaryFile()
    file.write(prefix + vrk.read_bytes())
    file.seek(len(prefix))
    return file


@pytest.mark.parametrize("given, answer", [
    (lambda d: d / "absent.vrk", False),
    (lambda d: d, False),
    (lambda d: d / "tree.zip", False),
    (lambda d: __import__("io").BytesIO(b"not an archive at all"), False),
    (lambda d: d / "tree.vrk", True),
    (lambda d: os.fsencode(d / "tree.vrk"), True),
])
def test_is_archive_answers_without_raising(both, tmp_path, given, answer):
    assert oxtrel.is_archive(given(tmp_path)) is answer


def test_is_archive_and_open_refuse_what_is_not_a_path_or_a_binary_file(tmp_path):
    import io
    for wrong in (3, None, io.StringIO("x"), [b"x"]):
        with pytest.raises(TypeError, match="file must be"):
            oxtrel.open(wrong)
        with pytest.raises(TypeError):
            oxtrel.is_archive(wrong)
