"""Writing packages from Python: unpack, pack and repack, and how they fail."""

import hashlib
import json

import pytest

import zem_package


def same_model(first, second):
    """Two packages hold the same model, whatever the storage of their blobs."""
    assert first.build_digest == second.build_digest
    assert [b.digest for b in first.blobs] == [b.digest for b in second.blobs]
    assert first.tiles == second.tiles
    assert first.host_exchange == second.host_exchange


def test_unpack_pack_and_repack_keep_the_model(packages, example, tmp_path):
    report = zem_package.unpack(packages / "example.zpkg", tmp_path / "dir")
    assert report.to_dict() == {"blobs": 2, "frames": 1, "tiles": 2, "ignored_build_digest": None}
    assert (report.blobs, report.frames, report["tiles"]) == (2, 1, 2)
    assert repr(report) == "Unpacked(blobs=2, frames=1, tiles=2, ignored_build_digest=None)"
    # A package already read unpacks the same files.
    again = zem_package.read(example).unpack(tmp_path / "again")
    assert again.to_dict() == report.to_dict()
    for name in ("manifest.json", "blobs/0.bin", "blobs/0.zst", "blobs/1.bin"):
        assert (tmp_path / "again" / name).read_bytes() == (tmp_path / "dir" / name).read_bytes()
    manifest = json.loads((tmp_path / "dir" / "manifest.json").read_text())
    assert manifest["blobs"][0]["frame"] == "blobs/0.zst"

    packed = zem_package.pack(tmp_path / "dir", tmp_path / "packed.zpkg", threads=3)
    # The example is the writer's: it comes back byte for byte.
    assert (tmp_path / "packed.zpkg").read_bytes() == example
    original = zem_package.read(example)
    assert packed.build_digest == original.build_digest == packed["build_digest"]
    assert (packed.size, packed.blobs) == (len(example), 2)
    assert packed.updated_digests == [] and packed.replaced_frames == []

    for storage in ("zstd", "plain", "keep"):
        out = tmp_path / f"{storage}.zpkg"
        repacked = zem_package.repack(example, out, storage=storage, level=19)
        assert repacked.dropped == []
        assert repacked.previous_build_digest == repacked.build_digest
        written = zem_package.read(out)
        same_model(written, original)
        if storage != "keep":
            assert {b.compression for b in written.blobs} == {"none" if storage == "plain" else "zstd"}


def test_failures_raise_as_reads_do(packages, damaged, tmp_path):
    broken = next(c for c in damaged if c["name"] == "DuplicateTile")
    with pytest.raises(zem_package.ReadError) as raised:
        zem_package.unpack(packages / broken["file"], tmp_path / "dir")
    assert (raised.value.stage, raised.value.element) == (broken["stage"], broken["element"])
    assert not (tmp_path / "dir").exists()

    stale = next(c for c in damaged if c["name"] == "BuildDigestMismatch")
    report = zem_package.unpack(
        (packages / stale["file"]).read_bytes(), tmp_path / "dir", ignore_build_digest=True
    )
    assert report.ignored_build_digest.element == "buildDigest"

    with pytest.raises(FileExistsError):
        zem_package.pack(tmp_path / "dir", packages / "example.zpkg")
    with pytest.raises(OSError):
        zem_package.unpack(packages / "example.zpkg", tmp_path / "dir")  # not empty
    manifest = tmp_path / "dir" / "manifest.json"
    document = json.loads(manifest.read_text())
    document["tiles"][1]["segments"][1]["blob"] = "17"
    manifest.write_text(json.dumps(document))
    with pytest.raises(ValueError, match=r"tiles\[1\]\.segments\[1\]\.blob: no blob 17"):
        zem_package.pack(tmp_path / "dir", tmp_path / "out.zpkg")
    assert not (tmp_path / "out.zpkg").exists()
    with pytest.raises(ValueError, match="storage is 'keep', 'plain' or 'zstd'"):
        zem_package.repack(packages / "example.zpkg", tmp_path / "out.zpkg", storage="lz4")


def test_an_edited_blob_gets_its_new_digest(packages, tmp_path):
    zem_package.unpack(packages / "example.zpkg", tmp_path / "dir")
    blob = tmp_path / "dir" / "blobs" / "1.bin"
    blob.write_bytes(blob.read_bytes() + b"\x01\x02\x03\x04")
    with pytest.raises(ValueError):
        zem_package.pack(tmp_path / "dir", tmp_path / "out.zpkg")
    packed = zem_package.pack(tmp_path / "dir", tmp_path / "out.zpkg", update_digests=True)
    (update,) = packed.updated_digests
    assert (update.blob, update.found) == (1, hashlib.sha256(blob.read_bytes()).digest())
    assert update.stated != update.found and update.file == "blobs/1.bin"
    assert packed["updated_digests"][0] == update.to_dict()
    assert zem_package.read(tmp_path / "out.zpkg").blobs[1].digest == update.found
