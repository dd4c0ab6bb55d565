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
an os.PathLike.
"""

from __future__ import annotations

import collections.abc
import dataclasses
import os
from typing import Iterable, Iterator, Optional, Sequence, Tuple, Union

from . import _oxtrel

__version__ = _oxtrel.version


class Error(Exception):
    """Base of every error this package raises."""


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
}


def _call(function, *args):
    try:
        return function(*args)
    except _oxtrel.Failure as failure:
        kind, message = failure.args
        error = _ERRORS.get(kind, Error)
        message = os.fsdecode(message)
        if error is ExtractError:
            raise Error(message) from None
        raise error(message) from None
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


def _bytes_list(values, what: str) -> list:
    if isinstance(values, (str, bytes, os.PathLike)):
        raise ArgumentTypeError(f"{what} must be a list of patterns, not a single {type(values).__name__}")
    return [_bytes_path(value, what) for value in values]


def _integer(value, what: str) -> None:
    if isinstance(value, bool) or not isinstance(value, int):
        raise ArgumentTypeError(f"{what} must be an int, not {type(value).__name__}")


def _count(value, what: str, low: int, high: int) -> int:
    _integer(value, what)
    if not low <= value <= high:
        raise ArgumentError(f"{what} {value} is out of range: it takes {low} to {high}")
    return value


def _jobs(jobs) -> int:
    return _count(jobs, "jobs", 0, _MAX_JOBS)


_MAX_JOBS = 64
_MIN_LEVEL, _MAX_LEVEL = 1, 12


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


@dataclasses.dataclass(frozen=True)
class ExtractReport:
    written: int  # files written, or checked by test()
    kept: int  # files left alone by keep_existing
    problems: Tuple[Tuple[str, str], ...]  # (problem, path), e.g. ("unsafe path", "data\\..\\x")
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
    """An open archive. Use oxtrel.open(); close it, or use it in a with block."""

    def __init__(self, path: Union[str, bytes, os.PathLike]):
        raw = _bytes_path(path, "path")
        self.path = os.fsdecode(raw)
        self._native = _call(_oxtrel.open, raw)
        self._entries = _EntryList(self)

    def __enter__(self) -> "Archive":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def close(self) -> None:
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

    def find(self, path: Union[str, bytes]) -> Optional[Entry]:
        """The entry at path ('/' or '\\', empty and "." components ignored) that an extraction
        leaves on disk: the last with exactly that path, or else the last ignoring ASCII case;
        None when there is none."""
        index = _call(self._native.find, _bytes_path(path, "path"))
        return None if index is None else self._entry(index)

    def read(self, entry: Union[str, bytes, Entry]) -> bytes:
        """An entry's contents, decoded and verified."""
        if not isinstance(entry, Entry):
            found = self.find(entry)
            if found is None:
                raise EntryNotFoundError(f"{self.path}: no entry {os.fsdecode(entry)}")
            entry = found
        return _call(self._native.read, entry.index)

    def extract(self, destination: Union[str, os.PathLike] = ".", patterns: Iterable[str] = (),
                excludes: Iterable[str] = (), keep_existing: bool = False, jobs: int = 1,
                check: bool = True) -> ExtractReport:
        """Writes the selected entries below destination/data. Raises ExtractError when any entry
        could not be written or a pattern selected nothing, unless check is False."""
        return self._run(destination, patterns, excludes, keep_existing, jobs, False, check)

    def test(self, patterns: Iterable[str] = (), excludes: Iterable[str] = (), jobs: int = 1,
             check: bool = True) -> ExtractReport:
        """Reads, decodes and checks the selected entries as extract would; writes nothing."""
        return self._run(".", patterns, excludes, False, jobs, True, check)

    def _run(self, destination, patterns, excludes, keep_existing, jobs, test_only, check) -> ExtractReport:
        written, kept, problems, unused = _call(self._native.extract, _bytes_path(destination, "destination"),
                                                _bytes_list(patterns, "patterns"), _bytes_list(excludes, "excludes"),
                                                bool(keep_existing), _jobs(jobs), test_only)
        report = ExtractReport(written, kept, tuple((problem, os.fsdecode(path)) for problem, path in problems),
                               tuple(os.fsdecode(pattern) for pattern in unused))
        if check and (report.problems or report.unused_patterns):
            said = [f"{problem} {path}" for problem, path in report.problems]
            said += [f"no entry matches {pattern}" for pattern in report.unused_patterns]
            raise ExtractError(f"{self.path}: " + "; ".join(said), report)
        return report


def open(path: Union[str, os.PathLike]) -> Archive:  # noqa: A001 - the name zipfile users expect
    """Opens the archive at path and reads its tables."""
    return Archive(path)


def pack(directory: Union[str, bytes, os.PathLike], archive: Union[str, bytes, os.PathLike], compress: bool = False,
         level: int = 6, jobs: int = 1) -> PackReport:
    """Packs every regular file below directory into archive (replaced only when complete)."""
    return PackReport(*_pack_result(_call(_oxtrel.pack_directory, _bytes_path(directory, "directory"),
                                          _bytes_path(archive, "archive"), *_pack_settings(compress, level, jobs))))


def pack_entries(entries: Iterable[Tuple[Union[str, bytes], Union[bytes, bytearray, memoryview, str, os.PathLike]]],
                 archive: Union[str, bytes, os.PathLike], compress: bool = False, level: int = 6,
                 jobs: int = 1) -> PackReport:
    """Packs (path below data, contents) pairs, the contents as bytes or as a file to read."""
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
    return PackReport(*_pack_result(_call(_oxtrel.pack_entries, items, _bytes_path(archive, "archive"),
                                          *_pack_settings(compress, level, jobs))))


def _pack_settings(compress, level, jobs):
    # The level matters only when compressing; it is still an int.
    if compress:
        level = _count(level, "level", _MIN_LEVEL, _MAX_LEVEL)
    else:
        _integer(level, "level")
        level = _MIN_LEVEL
    return bool(compress), level, _jobs(jobs)


def _pack_result(fields):
    files, folders, bytes_in, bytes_out, notes = fields
    return files, folders, bytes_in, bytes_out, tuple(os.fsdecode(note) for note in notes)
