"""Whatever the bytes or arguments, a clear Python exception and never a
crash."""

import io
import random

import pytest

import zem_package


def read_or_fail(data, survey):
    try:
        package = zem_package.read(data, survey=survey)
    except zem_package.ReadError:
        return
    for tile in package.tiles:
        try:
            package.tile_memory(tile.physical_tile)
        except (ValueError, LookupError):
            pass


def test_every_truncation_and_bit_flips(example):
    rng = random.Random(5)
    for length in range(len(example)):
        for survey in (False, True):
            read_or_fail(example[:length], survey)
    for _ in range(400):
        damaged = bytearray(example)
        at = rng.randrange(len(damaged))
        damaged[at] ^= 1 << rng.randrange(8)
        for survey in (False, True):
            read_or_fail(bytes(damaged), survey)


def test_bad_sources(packages, tmp_path):
    with pytest.raises(FileNotFoundError):
        zem_package.read(tmp_path / "missing.zpkg")
    with pytest.raises(IsADirectoryError):
        zem_package.read(tmp_path)
    closed = open(packages / "example.zpkg", "rb")
    closed.close()
    with pytest.raises(ValueError, match="closed"):
        zem_package.read(closed)
    with pytest.raises(TypeError, match="binary mode"):
        zem_package.read(io.StringIO("text"))

    class ReadsNothing:  # a file object whose read gives neither bytes nor text
        def read(self):
            return None

    with pytest.raises(TypeError, match="binary mode"):
        zem_package.read(ReadsNothing())
    with pytest.raises(TypeError):
        zem_package.read(42)
    with pytest.raises(ValueError):
        zem_package.read(b"", threads=0)


def test_thread_counts(example):
    # From 1 to 256 threads, or None for the processors at hand; a count past
    # either end is refused by name, not read with.
    for threads in (1, 256, None):
        assert zem_package.read(example, threads=threads).valid
    for threads in (0, -1, 257):
        with pytest.raises(ValueError, match=f"threads is from 1 to 256, not {threads}$"):
            zem_package.read(example, threads=threads)
    for threads in (True, "2", 2.0):
        with pytest.raises(TypeError, match="threads must be an int or None"):
            zem_package.read(example, threads=threads)


def test_bad_tiles_and_records(example):
    package = zem_package.read(example)
    for tile, error in ((-1, ValueError), (2**32, ValueError), ("7", TypeError), (True, TypeError)):
        with pytest.raises(error, match="tile number"):
            package.tile_memory(tile)
    # Both ends of the range are tile numbers, of no tile here.
    for tile in (0, 9, 2**32 - 1):
        with pytest.raises(LookupError, match=f"no tile has physical tile number {tile}$"):
            package.tile_memory(tile)
    with pytest.raises(TypeError, match="bytes-like"):
        package.diff(7, "not bytes")
    with pytest.raises(ValueError, match="template setup was not found"):
        package.expected_record(3)
    with pytest.raises(IndexError):
        package.blob_contents(2)
