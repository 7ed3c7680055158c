"""The verifier's stages from Python: template setups, expected records,
explained differences and whole devices."""

import zem_package


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


def test_diff_explains_each_word(packages, example):
    package = zem_package.read(example)
    record = bytearray((packages / "example.record").read_bytes())
    assert package.diff(7, bytes(record))["status"] == "match"
    record[4] ^= 0x10  # word 1 differs in one bit
    diff = package.diff(7, record)
    assert diff["status"] == "differ" and diff["differingWords"] == 1
    word = diff["differences"][0]
    assert (word["word"], word["region"], word["address"], word["xor"]) == (
        1,
        "primary",
        "0x4c404",
        "0x00000010",
    )
    assert word["patched"] and word["patch"]["group"] == 0
    assert word["blob"]["index"] == 0 and word["bindings"][0]["name"] == "weights"
    assert {"kind": "single-bit", "word": 1, "bit": 4} in diff["hints"]


def test_verify_a_device(packages, example, tmp_path):
    package = zem_package.read(example)
    record = (packages / "example.record").read_bytes()
    device = package.verify({7: record})
    assert device["summary"]["match"] == 1 and device["noTemplateSetup"] == [3]
    assert device["tiles"][0]["physicalTile"] == 7
    (tmp_path / "tile7.rec").write_bytes(record[4:] + record[:4])
    from_files = package.verify(str(tmp_path / "tile{tile}.rec"), threads=2)
    tile = from_files["tiles"][0]
    assert tile["status"] == "differ"
    assert from_files["records"].endswith("tile{tile}.rec")
    assert package.verify({})["tiles"][0]["status"] == "missing"
