"""Reading packages from every kind of source, and what a read says."""

import gc
import io
import os
import pathlib

import pytest

import zem_package


def test_every_source_gives_the_same_package(packages, example):
    path = packages / "example.zpkg"
    with open(path, "rb") as opened:
        from_file = zem_package.read(opened)
        assert opened.tell() == len(example)  # left just past the message
    reads = [
        zem_package.read(str(path)),
        zem_package.read(path),
        zem_package.read(example),
        zem_package.read(bytearray(example)),
        zem_package.read(memoryview(example)),
        zem_package.read(io.BytesIO(example)),
        from_file,
        zem_package.read(example, threads=4),
        zem_package.read(example, survey=True),
    ]
    for package in reads:
        assert package.valid and package.failures == []
        for part in ("blobs", "tiles", "bindings_1", "bindings_2", "bindings_3", "host_exchange",
                     "entry_points", "device_config_writes"):
            assert getattr(package, part) == getattr(reads[0], part), part
        assert package.host_exchange.calls == reads[0].host_exchange.calls
        assert package.build_digest == reads[0].build_digest
    # With standard input closed, the descriptor the read takes of the file
    # may be 0, which is a descriptor like any other.
    with open(path, "rb") as opened:
        saved = os.dup(0)
        os.close(0)
        try:
            assert zem_package.read(opened).build_digest == reads[0].build_digest
        finally:
            os.dup2(saved, 0)
            os.close(saved)
    # Equality compares values: two different elements of one list differ.
    model = reads[0]
    for first, second in ((model.blobs[0], model.blobs[1]), (model.tiles[0], model.tiles[1]),
                          (model.host_exchange.pages[0], model.host_exchange.pages[1]),
                          (model.entry_points[0], model.entry_points[1]),
                          (model.device_config_writes[0], model.device_config_writes[1]),
                          (model.tiles[1].segments[0], model.tiles[1].segments[1]),
                          (model.host_exchange.calls[0].page_refs_1[0],
                           model.host_exchange.calls[0].page_refs_2[0])):
        assert first != second and not first == second
    # The same element of two reads is equal, at every level of the model.
    def elements(m):
        return (m.blobs[0], m.tiles[1], m.tiles[1].segments[1], m.bindings_1[0],
                m.bindings_1[0].slices[0], m.host_exchange, m.host_exchange.pages[1],
                m.host_exchange.calls[0], m.host_exchange.calls[0].page_refs_1[0],
                m.entry_points[1], m.device_config_writes[1], m.template_setup(7))
    for mine, theirs in zip(elements(model), elements(reads[2]), strict=True):
        assert mine == theirs and not mine != theirs, type(mine).__name__


def test_the_model(example):
    package = zem_package.read(example)
    assert package.compiler == "1.4.2"
    assert [tile.physical_tile for tile in package.tiles] == [3, 7]
    tile = package.tiles[1]
    assert (tile.aux_1, tile.aux_2, tile.aux_3) == (1, 2, 3)
    assert [(s.address, s.memory_size, s.blob) for s in tile.segments] == [
        (0x4C000, 0x1000, 0),
        (0x4E000, 0x200, 1),
    ]
    first, second = package.blobs
    assert (first.compression, second.compression) == ("zstd", "none")
    assert len(first.digest) == 32 and first.hex == first.digest.hex()
    assert second.size == second.stored_size == 0x100
    assert package.bindings_1[0].name == "weights"
    assert package.bindings_1[0].slices[0].address == 0x4C400
    assert package.bindings_2[0].name == "scratch" and package.bindings_3 == []
    assert package.host_exchange.calls[0].name == "host_print"
    assert [e.name for e in package.entry_points] == ["main", "irq"]
    assert package.device_config_writes[1].value == 0xFFFFFFFF
    assert len(package.build_digest) == 32
    assert repr(tile) == "Tile(physical_tile=7, segments=2)"
    assert repr(tile.segments[1]).startswith("Segment(address=0x4e000, memory_size=512")


def test_contents_without_copies(example):
    package = zem_package.read(example)
    assert package.blob_contents(1) == bytes((i * 7 + 3) % 256 for i in range(0x100))
    memory = package.tile_memory(7)
    assert (memory.physical_tile, memory.load_base, len(memory)) == (7, 0x4C000, 8704)
    image = memory.image
    assert image.readonly and len(image) == 8704
    with pytest.raises(TypeError):
        image[0] = 1
    tiles = package.tiles
    # The views and the model's objects outlive the package's name.
    del package, memory
    gc.collect()
    assert image[0x80:0x84].tobytes() == image.tobytes()[0x80:0x84]
    assert tiles[0].segments[0].memory_size == 0x100


def test_damaged_packages_fail_as_the_library_says(packages, damaged):
    for case in damaged:
        data = (packages / case["file"]).read_bytes()
        with pytest.raises(zem_package.ReadError) as raised:
            zem_package.read(data)
        error = raised.value
        assert isinstance(error, ValueError)
        found = (error.kind, error.error, error.stage, error.element)
        assert found == (case["kind"], case["error"], case["stage"], case["element"]), case["name"]
        # A survey stops only at the framing and the header.
        if case["stage"] in ("framing", "header"):
            with pytest.raises(zem_package.ReadError):
                zem_package.read(data, survey=True)
            continue
        surveyed = zem_package.read(data, survey=True)
        assert not surveyed.valid
        first = surveyed.failures[0]
        assert (first.kind, first.error, first.stage, first.element) == found, case["name"]


def test_details_are_typed(packages, damaged):
    case = next(c for c in damaged if c["name"] == "BlobDigestMismatch")
    with pytest.raises(zem_package.ReadError) as raised:
        zem_package.read(packages / case["file"])
    details = raised.value.details
    assert details["compression"] == "none"
    assert isinstance(details["stored size"], int)
    assert isinstance(details["stored digest"], bytes) and len(details["stored digest"]) == 32
    assert isinstance(details["file offset"], int)
