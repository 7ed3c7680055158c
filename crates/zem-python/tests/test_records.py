"""The record checks from Python: template setups, expected records, typed
differences and whole devices, each the same as the tool's JSON says."""

import concurrent.futures
import io
import json
import os
import pickle
import re
import subprocess

import pytest

import zem_package


def tool_json(*args):
    """What `zem-package ARGS --json` writes, as Python values."""
    done = subprocess.run(
        [os.environ["ZEM_PACKAGE_TOOL"], *args, "--json"], capture_output=True, check=False
    )
    assert done.returncode in (0, 1), done.stderr
    return json.loads(done.stdout)


def test_template_setup_and_expected_record(packages, example):
    package = zem_package.read(example)
    setup = package.template_setup(7)
    assert (setup.primary, setup.primary_words, setup.secondary, setup.secondary_words) == (
        0x4C400,
        6,
        0x4C800,
        4,
    )
    assert setup.patch_table == 0x4CC00
    assert package.template_setup(3) is None
    assert package.expected_record(7) == (packages / "example.record").read_bytes()


def test_diff_is_typed(packages, example):
    package = zem_package.read(example)
    record = bytearray((packages / "example.record").read_bytes())
    assert package.diff(7, bytes(record)).status == "match"
    record[4] ^= 0x10  # word 1 differs in one bit
    diff = package.diff(7, record)
    assert (diff.status, diff.differing_words, diff.physical_tile) == ("differ", 1, 7)
    word = diff.differences[0]
    assert (word.word, word.region, word.offset, word.address) == (1, "primary", 4, 0x4C404)
    assert word.xor == 0x10 and word.actual ^ word.expected == word.xor
    assert (word.patch.group, word.owner.data.blob) == (0, 0)
    assert word.bindings[0].name == "weights" and word.bindings[0].list == 1
    (hint,) = diff.hints
    assert (hint.kind, hint.bit, hint.words, hint.indexes) == ("single-bit", 4, 1, [1])
    with pytest.raises(AttributeError):
        hint.tile
    assert repr(hint) == "Hint(kind='single-bit', bit=4, words=1)"


# Records of tile 7 with the faults the hints name; each compared as Python
# does and as `zem-package diff --json` and `verify --json` do.
def faulty_records(good):
    words = [int.from_bytes(good[i : i + 4], "little") for i in range(0, len(good), 4)]

    def of(ws):
        return b"".join(w.to_bytes(4, "little") for w in ws)

    flipped = list(words)
    flipped[2] ^= 1 << 7
    return {
        "match": good,
        "late": of([0] + words[:-1]),
        "short": of(words[:7]),
        "long": good + of([0xABC]),
        "flipped": of(flipped),
        "swapped": of([int.from_bytes(w.to_bytes(4, "little"), "big") for w in words]),
        "halves": of([(w >> 16) | ((w & 0xFFFF) << 16) for w in words]),
        "cut": of(words[:3] + [0] * (len(words) - 3)),
        "stuck": of([w | 1 << 31 for w in words]),
    }


def test_typed_results_are_the_tool_documents(packages, example, tmp_path):
    package = zem_package.read(example)
    good = (packages / "example.record").read_bytes()
    for name, record in faulty_records(good).items():
        path = tmp_path / f"{name}7.rec"
        path.write_bytes(record)
        for limit in (0, 3):
            document = tool_json("diff", str(packages / "example.zpkg"), "7", str(path),
                                 "--max", str(limit))
            for key in ("format", "package", "record"):
                del document[key]
            assert package.diff(7, record, max=limit).to_dict() == document, (name, limit)
        pattern = tmp_path / f"{name}{{tile}}.rec"
        device = tool_json("verify", str(packages / "example.zpkg"), "--records", str(pattern))
        typed = package.verify(pattern)
        assert typed.to_dict() == device["devices"][0], name
        assert typed.summary.to_dict() == device["devices"][0]["summary"]
        assert [t.to_dict() for t in typed.tiles] == device["devices"][0]["tiles"]


def test_verify_a_device(packages, example, tmp_path):
    package = zem_package.read(example)
    record = (packages / "example.record").read_bytes()
    device = package.verify({7: record})
    assert device.all_match and device.no_template_setup == [3]
    assert (device.summary.match, device.summary.tiles, device.records) == (1, 1, None)
    (tmp_path / "tile7.rec").write_bytes(record[4:] + record[:4])
    from_files = package.verify(str(tmp_path / "tile{tile}.rec"), threads=2)
    (tile,) = from_files.tiles
    assert (tile.physical_tile, tile.status, tile.reason) == (7, "differ", None)
    assert from_files.records.endswith("tile{tile}.rec") and not from_files.all_match
    assert from_files.hint_counts == from_files.summary.hints and from_files.hint_counts
    (foreign,) = from_files.device_hints
    assert (foreign.kind, foreign.records_read) == ("foreign-records", 1)
    nowhere = package.verify(str(tmp_path / "nowhere" / "tile{tile}.rec"))
    (hint,) = nowhere.device_hints
    assert hint.to_dict() == {
        "kind": "no-records",
        "directory": str(tmp_path / "nowhere"),
        "directoryExists": False,
    }
    assert repr(hint).startswith('DeviceHint(kind="no-records", directory=')
    with pytest.raises(AttributeError):
        hint.tile_offset
    assert package.verify({}).tiles[0].status == "missing"
    with pytest.raises(LookupError, match="tile 9"):
        package.verify({9: record})
    # Dumps named with zero-padded or hexadecimal numbers; unknown formats refused.
    (tmp_path / "t007.rec").write_bytes(record)
    assert package.verify(str(tmp_path / "t{tile:03}.rec")).all_match
    for pattern, message in (("t{tile:q}", "writes the tile number as"),
                             ("t{tile:011}", "at most 10 digits")):
        with pytest.raises(ValueError, match=message):
            package.verify(str(tmp_path / pattern))


def test_verify_in_one_read_is_verify_of_a_read_package(packages, example, damaged, tmp_path):
    record = (packages / "example.record").read_bytes()
    (tmp_path / "tile7.rec").write_bytes(record[4:] + record[:4])
    devices = {"good": {7: record}, "swapped": tmp_path / "tile{tile}.rec"}
    package = zem_package.read(example)
    for source in (example, str(packages / "example.zpkg"), packages / "example.zpkg"):
        for records in devices.values():
            once = zem_package.verify(source, records, max=2, threads=2)
            assert once.to_dict() == package.verify(records, max=2).to_dict(), source
        fleet = zem_package.verify_fleet(source, devices, tiles=[7])
        expected = package.verify_fleet(devices, tiles=[7])
        assert [d.to_dict() for d in fleet.devices] == [d.to_dict() for d in expected.devices]
        assert fleet.matrix.to_dict() == expected.matrix.to_dict()
    # A package refused as read refuses it; records and tiles as the methods refuse them.
    case = next(c for c in damaged if c["stage"] not in ("framing", "header"))
    with pytest.raises(zem_package.ReadError) as raised:
        zem_package.read(packages / case["file"])
    for source, error, message in (
            (packages / case["file"], zem_package.ReadError, re.escape(str(raised.value))),
            (tmp_path / "missing.zpkg", FileNotFoundError, "missing.zpkg"),
            (tmp_path, IsADirectoryError, ""),
            (io.BytesIO(example), TypeError, "path or a bytes-like object"),
            (example, LookupError, "no tile has physical tile number 9")):
        with pytest.raises(error, match=message):
            zem_package.verify(source, {7: record}, tiles=[9] if error is LookupError else None)
    with pytest.raises(LookupError, match="tile 9"):
        zem_package.verify(example, {9: record})
    with pytest.raises(ValueError, match="at least one device"):
        zem_package.verify_fleet(example, {})


def check_in_worker(package, record):
    return package.verify({7: record}).all_match


def test_a_package_pickles_and_crosses_a_process_pool(packages, example):
    package = zem_package.read(example, threads=2)
    again = pickle.loads(pickle.dumps(package))
    assert again.valid and again.tiles == package.tiles
    assert again.build_digest == package.build_digest
    record = (packages / "example.record").read_bytes()
    with concurrent.futures.ProcessPoolExecutor(max_workers=2) as pool:
        assert list(pool.map(check_in_worker, [package, package], [record, record[::-1]])) == [
            True,
            False,
        ]


def test_the_version_is_the_tools(packages):
    done = subprocess.run(
        [os.environ["ZEM_PACKAGE_TOOL"], "--version"], capture_output=True, text=True, check=True
    )
    assert done.stdout.startswith(f"zem-package {zem_package.__version__} ")
