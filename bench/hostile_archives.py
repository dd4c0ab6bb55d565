#!/usr/bin/env python3
"""Writes the archives whose shape once made memory grow out of proportion to the file.

    bench/hostile_archives.py OUT_DIR [NAME ...]

With no NAME every archive is written. Each is a few MB at most, except `sparse-folders`, which
is a 4 GiB sparse file (a few KB on disk). Keep them in /dev/shm, never in the repository.
"""

import os
import struct
import sys

COMPRESSED = 4


def lower_signed(byte):
    v = byte - 256 if byte >= 128 else byte
    return v + 32 if ord("A") <= v <= ord("Z") else v


def hash_span(data):
    h = 0
    for b in data:
        h = (h * 65599 + lower_signed(b)) & 0xFFFFFFFF
    return h


EXTENSIONS = [b"", b".nif", b".kf", b".dds", b".wav"]


def name_hash(name):
    """The 8-byte record hash of a file name (bytes)."""
    dot = name.rfind(b".")
    base, ext = (name, b"") if dot < 0 else (name[:dot], name[dot:])
    n = len(base)
    out = [0] * 8
    out[2] = n & 0xFF
    if n > 0:
        out[0] = lower_signed(base[-1]) & 0xFF
        out[3] = lower_signed(base[0]) & 0xFF
    if n > 2:
        out[1] = lower_signed(base[-2]) & 0xFF
    h = (hash_span(base[1:n - 2]) if n > 3 else 0) + hash_span(ext)
    out[4:8] = struct.pack("<I", h & 0xFFFFFFFF)
    for k, known in enumerate(EXTENSIONS):
        if ext.lower() == known:
            out[3] = (out[3] + (k & ~3) * 32) & 0xFF
            out[0] = (out[0] + (k & ~1) * 64) & 0xFF
            out[1] = (out[1] + k * 128) & 0xFF
            break
    return bytes(out)


def write_archive(path, folders, names, payload=b"x"):
    """folders: [(folder name bytes, [name index, ...])]; names: the name block's names in order.
    Every record points at one shared stored payload placed after the name block."""
    header_size, record = 36, 16
    file_count = sum(len(files) for _, files in folders)
    tables = header_size + record * len(folders)
    for name, files in folders:
        tables += 2 + len(name) + record * len(files)
    name_block = b"".join(n + b"\0" for n in names)
    payload_at = tables + len(name_block)
    hashes = [name_hash(n) for n in names]
    with open(path, "wb") as out:
        out.write(struct.pack("<9I", 0x5254584F, 0, header_size, 0, len(folders), file_count, 0,
                              len(name_block), 0))
        for name, files in folders:
            out.write(b"\0" * 8 + struct.pack("<II", len(files), 0))
        for name, files in folders:
            out.write(bytes([len(name) + 1]) + name + b"\0")
            out.write(b"".join(hashes[i] + struct.pack("<II", len(payload), payload_at) for i in files))
        out.write(name_block)
        out.write(payload)


def one_long_name(path, records, length):
    write_archive(path, [(b"f", [0] * records)], [b"n" * (length - 4) + b".nif"])


def empty_folders(path, count=2_000_000):
    # Each folder: its record and a name length of 0; no files, no names.
    with open(path, "wb") as out:
        out.write(struct.pack("<9I", 0x5254584F, 0, 36, 0, count, 0, 0, 0, 0))
        out.write(b"\0" * (16 * count))
        out.write(b"\0" * count)


def sparse_folders(path, count=268_000_000):
    # A 4 GiB hole whose header claims more folders than the file can hold with their blocks.
    with open(path, "wb") as out:
        out.write(struct.pack("<9I", 0x5254584F, 0, 36, 0, count, 0, 0, 0, 0))
        out.truncate(4 << 30)


def small_entries(path, count=1_000_000, per_folder=1000):
    folders = [(b"dir%04d" % f, list(range(f * per_folder, (f + 1) * per_folder)))
               for f in range(count // per_folder)]
    write_archive(path, folders, [b"file%07d.nif" % i for i in range(count)])


ARCHIVES = {
    "same-name-3000": lambda p: one_long_name(p, 200_000, 3000),
    "same-name-100000": lambda p: one_long_name(p, 100_000, 100_000),
    "empty-folders": empty_folders,
    "sparse-folders": sparse_folders,
    "small-entries": small_entries,
}


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    out_dir = argv[1]
    os.makedirs(out_dir, exist_ok=True)
    for name in argv[2:] or ARCHIVES:
        path = os.path.join(out_dir, name + ".vrk")
        ARCHIVES[name](path)
        print(f"{path}: {os.path.getsize(path)} bytes")


if __name__ == "__main__":
    main(sys.argv)
