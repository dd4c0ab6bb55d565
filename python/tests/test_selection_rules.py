"""The selection rules of the shared table (tests/data/selection_cases.json), through extract()."""

import json
import os
import pathlib

import pytest

import oxtrel

SOURCE = pathlib.Path(os.environ.get("OXTREL_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
TABLE = json.loads((SOURCE / "tests" / "data" / "selection_cases.json").read_text(encoding="utf-8"))


@pytest.fixture(scope="module")
def table_archive(tmp_path_factory):
    archive = tmp_path_factory.mktemp("table") / "t.vrk"
    oxtrel.pack_entries([(path, path.encode()) for path in TABLE["tree"]], archive)
    return archive


@pytest.mark.parametrize("case", TABLE["cases"], ids=[case["why"] for case in TABLE["cases"]])
def test_the_shared_selection_table(table_archive, tmp_path, case):
    with oxtrel.open(table_archive) as archive:
        report = archive.extract(tmp_path, patterns=case["patterns"], excludes=case["excludes"], check=False)
    files = sorted(p.relative_to(tmp_path / "data").as_posix() for p in tmp_path.rglob("*") if p.is_file())
    assert files == sorted(case["selected"])
    for path in files:
        assert (tmp_path / "data" / path).read_bytes() == path.encode()
    assert report.written == len(case["selected"]) and report.problems == ()
    assert list(report.unused_patterns) == case["unused"]
