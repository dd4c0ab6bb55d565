"""Files that the standard library's own writers make in other formats are refused as such."""

import gzip
import io
import tarfile
import zipfile

import pytest

import oxtrel


def tar_bytes(format):
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w", format=format) as tar:
        info = tarfile.TarInfo("a.txt")
        info.size = 1
        tar.addfile(info, io.BytesIO(b"A"))
    return out.getvalue()


def zip_bytes(members):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as archive:
        for name in members:
            archive.writestr(name, b"A")
    return out.getvalue()


@pytest.mark.parametrize(
    "data, looks_like",
    [
        (tar_bytes(tarfile.USTAR_FORMAT), "tar archive"),
        (tar_bytes(tarfile.GNU_FORMAT), "tar archive"),
        (tar_bytes(tarfile.PAX_FORMAT), "tar archive"),
        (zip_bytes(["a.txt"]), "zip archive"),
        (zip_bytes([]), "zip archive"),
        (gzip.compress(b"A" * 100), "gzip file"),
    ],
)
def test_another_format_raises_not_an_archive(tmp_path, data, looks_like):
    path = tmp_path / "other.vrk"
    path.write_bytes(data)
    with pytest.raises(oxtrel.NotAnArchiveError) as raised:
        oxtrel.open(path)
    assert isinstance(raised.value, oxtrel.BadArchiveError)
    assert f"not a .vrk archive (it looks like a {looks_like})" in str(raised.value)
