"""Devices verified together from Python: the same verdicts, device hints and
matrix as `zem-package verify` gives with several --records."""

import pytest

import zem_package
from test_records import faulty_records, tool_json

# Fleets over the example package, whose one verified tile is 7: each
# device's record of tile 7 by its name in `faulty_records` (None: no
# record), the statuses of tile 7's row (None: every tile matches), whether
# tile 7 fails on every device, the device it alone fails on, and the
# devices that hold the same records.
FLEETS = [
    ({"a": "match", "b": "flipped"}, ["match", "differ"], False, "b", {}),
    ({"a": "swapped", "b": "swapped", "c": None}, ["differ", "differ", "missing"], True, None,
     {"a": ["b"], "b": ["a"]}),
    ({"a": "match", "b": "match"}, None, False, None, {}),
]


@pytest.mark.parametrize("records, statuses, on_every, on_one, same", FLEETS)
def test_a_fleet_is_what_verify_gives(packages, example, tmp_path, records, statuses, on_every,
                                      on_one, same):
    package = zem_package.read(example)
    faulty = faulty_records((packages / "example.record").read_bytes())
    patterns, mappings = {}, {}
    for name, kind in records.items():
        (tmp_path / name).mkdir()
        if kind is not None:
            (tmp_path / name / "tile7.rec").write_bytes(faulty[kind])
        patterns[name] = str(tmp_path / name / "tile{tile}.rec")
        mappings[name] = {} if kind is None else {7: faulty[kind]}
    fleet = package.verify_fleet(patterns, threads=2)
    arguments = [a for name, p in patterns.items() for a in ("--records", f"{name}={p}")]
    document = tool_json("verify", str(packages / "example.zpkg"), *arguments)
    assert fleet.to_dict() == {key: document[key] for key in ("devices", "acrossDevices")}

    matrix = fleet.matrix
    assert [d.name for d in fleet.devices] == matrix.devices == list(records)
    if statuses is None:
        assert matrix.rows == [] and fleet.devices[0].result.all_match
    else:
        (row,) = matrix.rows
        assert row.physical_tile == 7 and [c.status for c in row.cells] == statuses
        codes = {entry.code: entry.meaning for entry in matrix.legend}
        assert all(codes[code] for cell in row.cells for code in cell.code.split(":"))
    assert matrix.on_every_device == ([7] if on_every else [])
    assert [(t.physical_tile, t.name) for t in matrix.on_one_device] == (
        [(7, on_one)] if on_one else [])
    assert {
        d.name: [h.name for h in d.result.device_hints if h.kind == "same-records"]
        for d in fleet.devices if any(h.kind == "same-records" for h in d.result.device_hints)
    } == same

    # Records in memory give the same matrix; so do the devices verified apart.
    assert package.verify_fleet(mappings).matrix.to_dict() == matrix.to_dict()
    apart = {name: package.verify(p) for name, p in patterns.items()}
    assert zem_package.fleet_matrix(apart).to_dict() == matrix.to_dict()


def test_a_fleet_refuses_what_verify_refuses(example, tmp_path):
    package = zem_package.read(example)
    pattern = str(tmp_path / "tile{tile}.rec")
    for devices, error, message in (
        ({}, ValueError, "at least one device"),
        ({"": pattern}, ValueError, "name is empty"),
        ({"a": pattern, "b": pattern}, ValueError, "'a' and 'b' read the same records"),
        ({7: pattern}, TypeError, "name is a str"),
        ([("a", pattern)], TypeError, "mapping from device names"),
    ):
        with pytest.raises(error, match=message):
            package.verify_fleet(devices)
    with pytest.raises(TypeError, match="not a DeviceResult"):
        zem_package.fleet_matrix({"a": pattern})
