"""Read, extract and pack hashed asset archives.

    with oxtrel.open("game.vrk") as archive:
        for entry in archive:
            print(entry.path, entry.size)
        mesh = archive.read("meshes/x.nif")

Every failure raises a subclass of oxtrel.Error whose message names the file and the problem:
a wrong value is also a ValueError, a wrong type also a TypeError, running out of memory also a
MemoryError. An open archive may be read from several threads at once; reading, extracting and
packing run without the GIL.

Names need not be UTF-8. They come as str decoded as os.fsdecode decodes file names (bytes that
are not UTF-8 become surrogate escapes, so os.fsencode gives the bytes back) and as the raw bytes
(Entry.folder_bytes, name_bytes, path_bytes). Every path and pattern may be given as str, bytes or
an os.PathLike; an argument taking patterns takes one such pattern or any iterable of them.
"""

from __future__ import annotations

import collections.abc
import dataclasses
import io
import os
from typing import BinaryIO, Iterable, Iterator, List, NamedTuple, Optional, Sequence, Tuple, Union

from . import _oxtrel

__version__ = _oxtrel.version


class Error(Exception):
    """Base of every error this package raises."""

    def __str__(self) -> str:
        # An OSError subclass keeps the library's message, which names the file and the problem.
        message = getattr(self, "_message", None)
        return message if message is not None else super().__str__()


class OpenError(Error, OSError):
    """The archive, a directory or a source file cannot be opened."""


class ReadError(Error, OSError):
    """Reading failed, or a file ended before the bytes it should hold."""


class WriteError(Error, OSError):
    """The file system refused to create, write or name a file."""


class BadArchiveError(Error):
    """The archive is damaged."""


class TruncatedError(BadArchiveError):
    """The archive ends before a table or payload it describes."""


class UnpackError(BadArchiveError):
    """A compressed payload cannot be inflated or fails its checksum."""


class NotAnArchiveError(BadArchiveError):
    """The file is another format (a tar, zip, gzip or 7z file), not a .vrk archive."""


class EntryNotFoundError(Error, KeyError):
    """No entry has the path asked for."""

    def __str__(self) -> str:
        return str(self.args[0]) if self.args else ""


class ArgumentError(Error, ValueError):
    """A value given is out of range or malformed."""


class ArgumentTypeError(Error, TypeError):
    """A value given is of a type the call does not take."""


class OutOfMemoryError(Error, MemoryError):
    """Memory ran out inside the library."""


class PackError(Error):
    """The input cannot be packed: a name holds '\\', two names share a hash, a folder name is
    too long, or the archive would pass 4 GiB."""


class BrokenEntriesError(BadArchiveError):
    """An update met entries the archive cannot give back (listed in the message's notes);
    drop_broken=True leaves them out instead."""


class ExtractError(Error):
    """Extracting or testing met problems; .report holds what happened."""

    def __init__(self, message: str, report: "ExtractReport"):
        super().__init__(message)
        self.report = report


_ERRORS = {
    "cannotOpen": OpenError,
    "cannotRead": ReadError,
    "cannotWrite": WriteError,
    "truncated": TruncatedError,
    "unpackFailed": UnpackError,
    "notAnArchive": NotAnArchiveError,
    "unsafePath": ExtractError,
    "unstorableName": PackError,
    "nameCollision": PackError,
    "folderNameTooLong": PackError,
    "tooLarge": PackError,
    "invalidArgument": ArgumentError,
    "notFound": EntryNotFoundError,
    "brokenEntries": BrokenEntriesError,
}


_COMBINED = {}


def _os_error(base, number: int, message: str, filename: str) -> Error:
    """base (an OSError-derived oxtrel error) joined with the OSError subclass the standard library
    picks for errno number, filled as OSError(errno, strerror, filename) fills it."""
    chosen = type(OSError(number, ""))
    cls = base
    if chosen is not OSError:
        cls = _COMBINED.get((base, chosen))
        if cls is None:
            name = base.__name__[:-len("Error")] + chosen.__name__
            cls = type(name, (base, chosen), {"__module__": __name__, "__doc__": base.__doc__})
            _COMBINED[(base, chosen)] = cls
            globals()[name] = cls  # reachable by name, so it pickles
    error = cls(number, os.strerror(number), filename or None)
    error._message = message
    return error


def _failure(failure) -> Error:
    kind, message, number, where = failure.args
    error = _ERRORS.get(kind, Error)
    message = os.fsdecode(message)
    if error is ExtractError:
        return Error(message)
    if number and issubclass(error, OSError):
        return _os_error(error, number, message, os.fsdecode(where))
    return error(message)


def _call(function, *args):
    try:
        return function(*args)
    except _oxtrel.Failure as failure:
        raise _failure(failure) from None
    except MemoryError:
        raise OutOfMemoryError("out of memory") from None
    except TypeError as wrong:  # arguments are checked before the call; this is a last resort
        raise ArgumentTypeError(str(wrong)) from None


def _bytes_path(path, what: str) -> bytes:
    """path (str, bytes or os.PathLike) as the bytes the system sees, as os.fsencode gives them."""
    try:
        return os.fsencode(path)
    except TypeError:
        raise ArgumentTypeError(f"{what} must be a str, bytes or os.PathLike path, not "
                                f"{type(path).__name__}") from None


_PATH_TYPES = (str, bytes, os.PathLike)


def _bytes_list(values, what: str) -> list:
    """values as a list of patterns: one str, bytes or os.PathLike is one pattern (never split into
    characters), else an iterable of them; None is none."""
    if values is None:
        return []
    if isinstance(values, _PATH_TYPES):
        return [_bytes_path(values, what)]
    try:
        items = iter(values)
    except TypeError:
        raise ArgumentTypeError(f"{what} must be a pattern (str, bytes or os.PathLike) or an iterable of "
                                f"patterns, not {type(values).__name__}") from None
    patterns = []
    for value in items:
        if not isinstance(value, _PATH_TYPES):
            raise ArgumentTypeError(f"{what} must hold str, bytes or os.PathLike patterns, not "
                                    f"{type(value).__name__}")
        patterns.append(_bytes_path(value, what))
    return patterns


def _integer(value, what: str) -> None:
    if isinstance(value, bool) or not isinstance(value, int):
        raise ArgumentTypeError(f"{what} must be an int, not {type(value).__name__}")


def _count(value, what: str, low: int, high: int) -> int:
    _integer(value, what)
    if not low <= value <= high:
        raise ArgumentError(f"{what} {value} is out of range: it takes {low} to {high}")
    return value


def _jobs(jobs) -> int:
    """The library's thread count: None (the default) or 0 is one per CPU, as on the command line."""
    if jobs is None:
        return 0
    _integer(jobs, "jobs")
    if not 0 <= jobs <= _MAX_JOBS:
        raise ArgumentError(f"jobs {jobs} is out of range: give 1 to {_MAX_JOBS} threads, or None (or 0) "
                            f"for one per CPU.")
    return jobs


_MAX_JOBS = 64
_MIN_LEVEL, _MAX_LEVEL, _DEFAULT_LEVEL = 1, 12, 6


@dataclasses.dataclass(frozen=True)
class Entry:
    """One file record, in table order. folder, name and path are the bytes as stored, decoded as
    os.fsdecode decodes file names; the *_bytes fields hold the bytes themselves."""

    folder: str
    name: Optional[str]  # None when the record's hash names no file
    path: str  # below `data`, '/' between components; "" when unnamed
    hash: bytes
    offset: int
    stored_size: int
    unpacked_size: Optional[int]
    compressed: bool
    index: int
    folder_bytes: bytes
    name_bytes: Optional[bytes]
    path_bytes: bytes

    @classmethod
    def _from_native(cls, fields, index: int) -> "Entry":
        folder, name, path, *rest = fields
        return cls(os.fsdecode(folder), None if name is None else os.fsdecode(name), os.fsdecode(path), *rest,
                   index, folder, name, path)

    @property
    def size(self) -> int:
        """The contents' size: the unpacked size when compressed, else the stored size."""
        if self.compressed:
            return self.unpacked_size if self.unpacked_size is not None else 0
        return self.stored_size

    # The names zipfile.ZipInfo gives the same facts.
    @property
    def filename(self) -> str:
        """The path, as zipfile names it."""
        return self.path

    @property
    def file_size(self) -> int:
        """The contents' size (size), as zipfile names it."""
        return self.size

    @property
    def compress_size(self) -> int:
        """The payload's size in the archive (stored_size), as zipfile names it."""
        return self.stored_size

    def is_dir(self) -> bool:
        """False: an archive holds files only; its folders are implied by their paths."""
        return False


@dataclasses.dataclass(frozen=True)
class ExtractReport:
    written: int  # files written, or checked by test()
    kept: int  # files left alone by keep_existing
    # (problem, path), the path as Entry.path spells it (e.g. ("unsafe path", "../x")); a record
    # whose hash names no file is named by its folder as stored: ("unmatched", "meshes\\rock").
    problems: Tuple[Tuple[str, str], ...]
    unused_patterns: Tuple[str, ...]


@dataclasses.dataclass(frozen=True)
class PackReport:
    files: int
    folders: int
    bytes_in: int
    bytes_out: int
    notes: Tuple[str, ...]


class _EntryList(collections.abc.Sequence):
    """An archive's records in table order, each made when it is asked for."""

    def __init__(self, archive: "Archive"):
        self._archive = archive

    def __len__(self) -> int:
        return _call(self._archive._native.count)

    def __getitem__(self, index):
        if isinstance(index, slice):
            return [self[i] for i in range(*index.indices(len(self)))]
        count = len(self)
        if index < 0:
            index += count
        if not 0 <= index < count:
            raise IndexError("entry index out of range")
        return self._archive._entry(index)

    def __iter__(self) -> Iterator[Entry]:
        for index in range(len(self)):
            yield self._archive._entry(index)


class Archive:
    """An open archive. Use oxtrel.open(); close it, or use it in a with block.

    As a container it answers by path: `name in archive`, `archive[name]` (the Entry, as
    getinfo; never the contents, which read() and open() give), while iterating it gives every
    Entry in table order."""

    def __init__(self, path: Union[str, bytes, os.PathLike]):
        raw = _bytes_path(path, "path")
        self._adopt(_call(_oxtrel.open, raw), os.fsdecode(raw))

    @classmethod
    def _made(cls, native, path: str) -> "Archive":
        archive = cls.__new__(cls)
        archive._adopt(native, path)
        return archive

    def _adopt(self, native, path: str) -> None:
        self.path = path
        self._native = native
        self._entries = _EntryList(self)

    def __enter__(self) -> "Archive":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<oxtrel.Archive {self.path!r}>"

    def close(self) -> None:
        """Closes the archive. Files that open() gave keep reading until they are closed."""
        # The listing outlives the file: what was made on demand is kept from here on.
        if not isinstance(self._entries, tuple):
            self._entries = tuple(self._entries)
        self._native.close()

    def __iter__(self) -> Iterator[Entry]:
        return iter(self._entries)

    def __len__(self) -> int:
        return len(self._entries)

    def entries(self) -> Sequence[Entry]:
        """Every record in table order, unnamed ones too. Entries are made as they are asked for,
        so a listing of a large archive holds only the entries its caller keeps."""
        return self._entries

    def _entry(self, index: int) -> Entry:
        return Entry._from_native(_call(self._native.entry, index), index)

    def find(self, path: Union[str, bytes, os.PathLike]) -> Optional[Entry]:
        """The entry at path ('/' or '\\', empty and "." components ignored) that an extraction
        leaves on disk: the last with exactly that path, or else the last ignoring ASCII case;
        None when there is none."""
        index = _call(self._native.find, _bytes_path(path, "path"))
        return None if index is None else self._entry(index)

    def namelist(self) -> List[str]:
        """The path of every named entry, in table order. A path held by several records comes
        once per record, as zipfile lists a name stored twice: the list follows infolist()."""
        return [os.fsdecode(path) for path in _call(self._native.paths)]

    def infolist(self) -> List[Entry]:
        """Every named entry, in table order (unnamed records are in entries())."""
        return [entry for entry in self._entries if entry.name is not None]

    def getinfo(self, name: Union[str, bytes, os.PathLike]) -> Entry:
        """The entry find() gives for name; KeyError (EntryNotFoundError) when there is none."""
        entry = self.find(name)
        if entry is None:
            raise EntryNotFoundError(f"{self.path}: no entry {os.fsdecode(_bytes_path(name, 'name'))}")
        return entry

    def __contains__(self, name) -> bool:
        if isinstance(name, Entry):
            return 0 <= name.index < len(self) and self._entries[name.index] == name
        if not isinstance(name, _PATH_TYPES):
            return False
        return self.find(name) is not None

    def __getitem__(self, name: Union[str, bytes, os.PathLike]) -> Entry:
        return self.getinfo(name)

    def _member(self, member, what: str = "name") -> Entry:
        if isinstance(member, Entry):
            if member not in self:
                raise EntryNotFoundError(f"{self.path}: no entry {member.path} at {member.index}")
            return member
        if not isinstance(member, _PATH_TYPES):
            raise ArgumentTypeError(f"{what} takes an Entry or an entry's path, and a path must be a str, bytes "
                                    f"or os.PathLike, not {type(member).__name__}")
        return self.getinfo(member)

    def read(self, entry: Union[str, bytes, os.PathLike, Entry]) -> bytes:
        """An entry's contents, whole, decoded and verified; open() streams them instead."""
        return _call(self._native.read, self._member(entry, "entry").index)

    def open(self, name: Union[str, bytes, os.PathLike, Entry], mode: str = "r") -> io.BufferedReader:
        """The entry's contents as a binary file object that reads them as they are asked for:
        read, readinto, readline, seek and tell, in a with block or closed by close(). Memory
        stays a few hundred KiB whatever the entry's size; a compressed entry's checksum is
        verified when its end is read (UnpackError otherwise), and seeking back in it inflates
        again from its start. The file keeps the archive's file open until it is closed itself."""
        if mode not in ("r", "rb"):
            raise ArgumentError(f"mode {mode!r} is not supported: entries open for reading only ('r')")
        entry = self._member(name)
        raw = _EntryFile(_call(self._native.open_entry, entry.index), entry.path)
        return io.BufferedReader(raw, _READ_BUFFER)

    def extract(self, destination: Union[str, bytes, os.PathLike] = ".", patterns=(), excludes=(),
                keep_existing: bool = False, jobs: Optional[int] = None, check: bool = True) -> ExtractReport:
        """Writes the selected entries below destination/data, making destination when it is
        missing. patterns and excludes are each one pattern or an iterable of them. Raises
        ExtractError when any entry could not be written or a pattern selected nothing, unless check
        is False. jobs threads work at once: by default (None) one per CPU."""
        return self._run(destination, _bytes_list(patterns, "patterns"), _bytes_list(excludes, "excludes"), [],
                         keep_existing, jobs, False, check)

    def extractall(self, path: Union[str, bytes, os.PathLike, None] = None, members=None, *,
                   keep_existing: bool = False, jobs: Optional[int] = None, check: bool = True) -> ExtractReport:
        """Writes every entry, or only members (paths as getinfo takes them, or Entry objects;
        one path alone is one member), below path/data (path: the working directory by default).
        A member is taken as a path, never as a pattern; KeyError when one is not in the archive."""
        if members is None:
            indices = []
        else:
            if isinstance(members, _PATH_TYPES) or isinstance(members, Entry):
                members = [members]
            indices = [self._member(member, "members").index for member in members]
            if not indices:
                return ExtractReport(0, 0, (), ())
        return self._run("." if path is None else path, [], [], indices, keep_existing, jobs, False, check)

    def verify(self, patterns=(), excludes=(), jobs: Optional[int] = None, check: bool = True) -> ExtractReport:
        """Reads, decodes and checks the selected entries as extract would; writes nothing. Raises
        ExtractError as extract does unless check is False."""
        return self._run(".", _bytes_list(patterns, "patterns"), _bytes_list(excludes, "excludes"), [], False,
                         jobs, True, check)

    def test(self, jobs: Optional[int] = None) -> Optional[str]:
        """Reads and checks every entry as zipfile's testzip() does: the path of the first entry in
        table order whose contents cannot be read back (a payload past the end of the archive, or
        one that does not inflate or fails its checksum), or None when all can."""
        report = self._run(".", [], [], [], False, jobs, True, False)
        for problem, path in report.problems:
            if problem in _UNREADABLE:
                return path
        return None

    def _run(self, destination, patterns, excludes, indices, keep_existing, jobs, test_only, check) -> ExtractReport:
        raw_destination = _bytes_path(destination, "destination")
        jobs = _jobs(jobs)
        if not test_only and b"\0" not in raw_destination:
            try:  # until the library makes a missing destination itself
                os.makedirs(raw_destination, exist_ok=True)
            except OSError as refused:
                raise _os_error(OpenError, refused.errno or 0, f"cannot open {os.fsdecode(raw_destination)}: "
                                f"{refused.strerror}", os.fsdecode(raw_destination)) from None
        written, kept, problems, unused = _call(self._native.extract, raw_destination, patterns, excludes, indices,
                                                bool(keep_existing), jobs, test_only)
        report = ExtractReport(written, kept, tuple((problem, os.fsdecode(path)) for problem, path in problems),
                               tuple(os.fsdecode(pattern) for pattern in unused))
        if check and (report.problems or report.unused_patterns):
            said = [f"{problem} {path}" for problem, path in report.problems]
            said += [f"no entry matches {pattern}" for pattern in report.unused_patterns]
            raise ExtractError(f"{self.path}: " + "; ".join(said), report)
        return report


_UNREADABLE = ("truncated payload", "cannot unpack")
_READ_BUFFER = 64 * 1024


class _EntryFile(io.RawIOBase):
    """One entry's contents, read through the library's streaming reader; Archive.open wraps it
    in an io.BufferedReader. Reads run without the GIL."""

    def __init__(self, native, name: str):
        super().__init__()
        self._native = native
        self.name = name
        self.mode = "rb"

    def _check_open(self) -> None:
        if self.closed:
            raise ValueError("I/O operation on closed file.")

    def readable(self) -> bool:
        self._check_open()
        return True

    def seekable(self) -> bool:
        self._check_open()
        return True

    def readinto(self, buffer) -> int:
        self._check_open()
        return _call(self._native.readinto, buffer)

    def readall(self) -> bytes:
        self._check_open()
        return _call(self._native.read_all)

    def tell(self) -> int:
        self._check_open()
        return self._native.tell()

    def seek(self, offset: int, whence: int = os.SEEK_SET) -> int:
        """Moves as zipfile's entry files move: a position past either end stops at that end."""
        self._check_open()
        _integer(offset, "offset")
        if whence == os.SEEK_SET:
            position = offset
        elif whence == os.SEEK_CUR:
            position = self._native.tell() + offset
        elif whence == os.SEEK_END:
            position = self._native.size() + offset
        else:
            raise ArgumentError(f"whence {whence!r} is not SEEK_SET, SEEK_CUR or SEEK_END")
        position = max(0, min(position, self._native.size()))
        _call(self._native.seek, position)
        return position

    def close(self) -> None:
        if not self.closed:
            self._native.close()
        super().close()


def open(file: Union[str, bytes, os.PathLike, BinaryIO]) -> Archive:  # noqa: A001 - the name zipfile users expect
    """Opens an archive and reads its tables. file is a path (str, bytes or os.PathLike) or a
    binary file object whose contents from its current position are the archive: a file with a
    descriptor is read through it (from its start, when positioned there), anything else with
    read() (io.BytesIO, say) is read once into memory."""
    if isinstance(file, _PATH_TYPES):
        return Archive(file)
    if isinstance(file, io.TextIOBase) or not callable(getattr(file, "read", None)):
        raise ArgumentTypeError(f"file must be a path (str, bytes or os.PathLike) or a binary file object, not "
                                f"{type(file).__name__}")
    name = getattr(file, "name", None)
    name = os.fsdecode(name) if isinstance(name, (str, bytes)) else f"<{type(file).__name__}>"
    descriptor = _descriptor(file)
    if descriptor is not None:
        return Archive._made(_call(_oxtrel.open_descriptor, descriptor, os.fsencode(name)), name)
    contents = file.read()
    if not isinstance(contents, (bytes, bytearray, memoryview)):
        raise ArgumentTypeError(f"file must be opened in binary mode: its read() gave {type(contents).__name__}")
    return Archive._made(_call(_oxtrel.open_memory, contents, os.fsencode(name)), name)


def _descriptor(file) -> Optional[int]:
    """file's descriptor when the archive is the whole file behind it and it reads: a file at
    its start, opened for reading."""
    try:
        descriptor = file.fileno()
        if not file.readable() or file.tell() != 0:
            return None
    except (AttributeError, OSError, ValueError):  # io.UnsupportedOperation is both of the last two
        return None
    return descriptor if isinstance(descriptor, int) and not isinstance(descriptor, bool) else None


def is_archive(file: Union[str, bytes, os.PathLike, BinaryIO]) -> bool:
    """True when file (a path or a binary file object, as open() takes) opens as an archive; False
    when it does not, is identified as another format, or is missing. A file object is left at the
    position it had."""
    position = None
    if not isinstance(file, _PATH_TYPES):
        try:
            position = file.tell()
        except (AttributeError, OSError, ValueError):
            position = None
    try:
        with open(file):
            return True
    except ArgumentTypeError:
        raise
    except (Error, OSError):
        return False
    finally:
        if position is not None:
            file.seek(position)


class Change(NamedTuple):
    """One path that differs between two archives, as `oxtrel --diff` prints it."""

    kind: str  # "A" added (in the new archive only), "D" removed (in the old only), "M" modified
    path: str  # as Entry.path gives it


def diff(old: Union[Archive, str, bytes, os.PathLike, BinaryIO],
         new: Union[Archive, str, bytes, os.PathLike, BinaryIO]) -> List[Change]:
    """What changed from old to new, by the contents an extraction of each leaves on disk: one
    Change per path added, removed or modified, sorted by path in byte order; [] when both hold the
    same files. Each is an open Archive or anything open() takes (then opened and closed here).
    Where several records share a path the last in table order counts; unnamed records take no
    part. Stored bytes are compared first; only where compressed payloads differ are the contents
    inflated, streaming. Raises UnpackError, TruncatedError or ReadError naming the first entry
    present in both whose contents cannot be read."""
    opened = []
    try:
        archives = []
        for archive in (old, new):
            if not isinstance(archive, Archive):
                archive = open(archive)
                opened.append(archive)
            archives.append(archive)
        changes = _call(_oxtrel.diff, archives[0]._native, archives[1]._native)
    finally:
        for archive in opened:
            archive.close()
    return [Change(kind, os.fsdecode(path)) for kind, path in changes]


def pack(directory: Union[str, bytes, os.PathLike], archive: Union[str, bytes, os.PathLike], compress: bool = False,
         level: Optional[int] = None, jobs: Optional[int] = None) -> PackReport:
    """Packs every regular file below directory into archive (replaced only when complete). level
    (1 to 12, 6 when not given) applies only with compress=True; jobs threads compress: by default
    (None) one per CPU."""
    settings = _pack_settings(compress, level, jobs)
    return PackReport(*_pack_result(_call(_oxtrel.pack_directory, _bytes_path(directory, "directory"),
                                          _bytes_path(archive, "archive"), *settings)))


def pack_entries(entries: Iterable[Tuple[Union[str, bytes], Union[bytes, bytearray, memoryview, str, os.PathLike]]],
                 archive: Union[str, bytes, os.PathLike], compress: bool = False, level: Optional[int] = None,
                 jobs: Optional[int] = None) -> PackReport:
    """Packs (path below data, contents) pairs, the contents as bytes or as a file to read; level
    and jobs as pack() takes them."""
    settings = _pack_settings(compress, level, jobs)
    items = []
    for path, contents in entries:
        path = _bytes_path(path, "an entry's path")
        if isinstance(contents, (bytes, bytearray, memoryview)):
            items.append((path, bytes(contents), b""))
        elif isinstance(contents, (str, os.PathLike)):
            items.append((path, None, _bytes_path(contents, "an entry's source file")))
        else:
            raise ArgumentTypeError(f"the contents of {os.fsdecode(path)} must be bytes or a file's path, not "
                                    f"{type(contents).__name__}")
    return PackReport(*_pack_result(_call(_oxtrel.pack_entries, items, _bytes_path(archive, "archive"), *settings)))


def _pack_settings(compress, level, jobs):
    # As oxtrel-pack refuses --level without --compress: a level given alone would silently do nothing.
    if level is None:
        level = _DEFAULT_LEVEL
    elif not compress:
        _integer(level, "level")
        raise ArgumentError(f"level {level} applies only with compress=True; give both, or neither.")
    return bool(compress), _count(level, "level", _MIN_LEVEL, _MAX_LEVEL), _jobs(jobs)


def _pack_result(fields):
    files, folders, bytes_in, bytes_out, notes = fields
    return files, folders, bytes_in, bytes_out, tuple(os.fsdecode(note) for note in notes)


@dataclasses.dataclass(frozen=True)
class UpdateReport:
    kept: int  # entries copied from the archive as stored
    added: int  # files of directory at paths the archive did not hold
    replaced: int  # files of directory that took an entry's place
    removed: int  # entries the remove patterns selected
    dropped: int  # broken entries left out (drop_broken=True)
    superseded: int  # records hidden by a later one at the same path, left out
    files: int
    folders: int
    bytes_in: int  # the new files' sizes
    bytes_out: int  # the result's size
    notes: Tuple[str, ...]


def update(archive: Union[str, bytes, os.PathLike], directory: Optional[Union[str, bytes, os.PathLike]] = None, *,
           remove: Union[str, bytes, os.PathLike, Iterable[Union[str, bytes, os.PathLike]]] = (),
           to: Optional[Union[str, bytes, os.PathLike]] = None, drop_broken: bool = False,
           level: Optional[int] = None, jobs: Optional[int] = None) -> UpdateReport:
    """Changes archive as oxtrel-pack --update does: every file below directory replaces the entry
    at its path or is added, the entries the remove patterns select (one string is one pattern) are
    removed, and every other entry is copied as stored. The archive keeps its compression; level (1
    to 12, 6 when not given) is that of new files in a compressed archive. The result replaces
    archive only when complete, or goes to `to`. Entries the archive cannot give back raise
    BrokenEntriesError unless drop_broken=True; a pattern that selects nothing raises
    EntryNotFoundError."""
    if directory is None and not _bytes_list(remove, "remove"):
        raise ArgumentError("update() needs a directory, or patterns to remove, or both.")
    if level is None:
        level = _DEFAULT_LEVEL
    fields = _call(_oxtrel.update, _bytes_path(archive, "archive"),
                   b"" if directory is None else _bytes_path(directory, "directory"), _bytes_list(remove, "remove"),
                   b"" if to is None else _bytes_path(to, "to"), bool(drop_broken),
                   _count(level, "level", _MIN_LEVEL, _MAX_LEVEL), _jobs(jobs))
    *counts, notes = fields
    return UpdateReport(*counts, tuple(os.fsdecode(note) for note in notes))
