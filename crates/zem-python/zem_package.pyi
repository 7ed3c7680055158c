"""Application packages from Python: read and check a package, look at its
model, its blobs and tiles, and check device records against it."""

import os
from typing import Any, BinaryIO, Iterable, Mapping, Optional, Union

__version__: str  # the project's version, as the tools' --version gives it

class ReadError(ValueError):
    """A package that cannot be read or does not pass its checks."""

    kind: str  # 'Capnp', 'Io', 'Utf8', 'SchemaEnum' or 'Invalid'
    error: str  # the library's exact error text
    stage: str  # 'framing', 'header', 'blobs', 'structure', 'validation', 'build digest'
    element: str  # 'tiles[3].segments[1]'; empty for the message as a whole
    details: dict[str, Union[int, bytes, str]]

class Failure:
    """One failure a survey met: kind, error, stage, element, details."""

    kind: str
    error: str
    stage: str
    element: str
    details: dict[str, Union[int, bytes, str]]

class Blob:
    """A blob: its digest, the size of its contents and how it is stored."""

    digest: bytes
    hex: str
    size: int
    checked: bool  # False for a blob a survey kept that did not pass its checks
    compression: str  # 'none' or 'zstd'
    stored_size: int
    declared_size: int

class Segment:
    """A range of tile memory and the blob bytes that fill it."""

    address: int
    memory_size: int
    blob: int
    blob_offset: int
    data_size: int
    aux: int

class Tile:
    """A tile the package loads, with its segments."""

    physical_tile: int
    aux_1: int
    aux_2: int
    aux_3: int
    segments: list[Segment]

class RegionSlice:
    """A piece of a binding on one tile."""

    physical_tile: int
    address: int
    offset: int
    length: int

class Binding:
    """A named piece of data bound into tile memory."""

    name: str
    label: str
    values: tuple[int, ...]
    slices: list[RegionSlice]

class HostPage:
    id: int
    size: int

class HostPageRef:
    page: int
    offset: int
    aux: int
    length: int

class HostCall:
    name: str
    aux_1: int
    aux_2: int
    invocations: int
    page_refs_1: list[HostPageRef]
    page_refs_2: list[HostPageRef]

class HostExchange:
    aux: int
    startup_page: int
    startup_offset: int
    pages: list[HostPage]
    required_pages: tuple[int, ...]
    calls: list[HostCall]

class EntryPoint:
    name: str
    aux: int
    external_syncs: int

class DeviceConfigWrite:
    address: int
    value: int

class TemplateSetup:
    """The five parameters of a tile's template setup."""

    primary: int
    primary_words: int
    secondary: int
    secondary_words: int
    patch_table: int

class TileMemory:
    """One tile's memory: byte 0 of `image` stands at `load_base`."""

    physical_tile: int
    load_base: int
    image: memoryview  # read-only; copies nothing, keeps this object alive
    def __len__(self) -> int: ...

class BlobByte:
    """A byte of a blob's contents."""

    blob: int
    offset: int
    file_offset: Optional[int]  # for a blob stored plain

class SegmentOwner:
    """The segment whose range holds an address."""

    segment: int
    start: int
    end: int
    data: Optional[BlobByte]  # None in the zero-filled rest

class BindingSlice:
    """A binding slice that covers an address."""

    name: str
    list: int  # 1, 2 or 3
    binding: int
    slice: int

class Patch:
    """The patch that changed a template word."""

    group: int  # 0 primary, 1 secondary
    entry: int
    delta: int

class Difference:
    """A word where a record and the record its tile expects differ."""

    word: int
    region: str  # 'primary' or 'secondary'
    offset: int
    address: int
    actual: int
    expected: int
    xor: int
    unpatched: int
    patch: Optional[Patch]
    owner: Optional[SegmentOwner]
    bindings: list[BindingSlice]
    def to_dict(self) -> dict[str, Any]: ...

class Hint:
    """A hint: its kind, and the values of that kind (words, at_least, read,
    missing, extra, tile, change, word, bit, stuck_at, from_word, fill,
    indexes); another value raises AttributeError."""

    kind: str
    def __getattr__(self, name: str) -> Any: ...
    def to_dict(self) -> dict[str, Any]: ...

class Diff:
    """A record compared with the one its tile expects."""

    physical_tile: int
    setup: TemplateSetup
    template_record_words: int
    record_bytes: int
    record_words: int
    differing_words: int
    differences: list[Difference]  # the first, at most `max`
    hints: list[Hint]  # every one that holds
    explained_by_hints: bool  # the hints say what every differing word holds
    matches: bool
    status: str  # 'match' or 'differ'
    def to_dict(self) -> dict[str, Any]: ...

class TileVerdict:
    """What became of one tile of a device."""

    physical_tile: int
    status: str  # 'match', 'differ', 'missing', 'unreadable' or 'failed'
    reason: Optional[str]
    words: Optional[int]
    record_words: Optional[int]
    differing_words: Optional[int]
    differences: list[Difference]
    hints: list[Hint]
    explained_by_hints: bool
    def to_dict(self) -> dict[str, Any]: ...

class Summary:
    tiles: int
    match: int
    differ: int
    missing: int
    unreadable: int
    failed: int
    no_template_setup: int
    hints: dict[str, int]  # tiles with each hint kind that occurs
    def to_dict(self) -> dict[str, Any]: ...

class DeviceHint:
    """What a whole device's records say: `kind` ("no-records",
    "off-by", "foreign-records", "same-records") and its values as
    attributes (directory, directory_exists; tile_offset, records_read;
    records_read; device, name)."""

    kind: str
    def __getattr__(self, name: str) -> Any: ...
    def to_dict(self) -> dict[str, Any]: ...

class DeviceResult:
    """Every verified tile of one device."""

    records: Optional[str]  # the pattern; None for a mapping
    tiles: list[TileVerdict]
    summary: Summary
    hint_counts: dict[str, int]  # tiles with each hint kind that occurs
    device_hints: list[DeviceHint]
    no_template_setup: list[int]
    all_match: bool
    def to_dict(self) -> dict[str, Any]: ...

class MatrixCell:
    """One device's cell in a row of a FleetMatrix."""

    verified: bool  # whether the device verified the tile
    status: Optional[str]  # None when not verified
    hint: Optional[str]  # the kind of the strongest hint, or None
    code: str  # "D:bs", "M", "."; empty when not verified
    def to_dict(self) -> Optional[dict[str, Any]]: ...

class MatrixRow:
    """A tile that does not match on some device."""

    physical_tile: int
    cells: list[MatrixCell]  # one per device, in the devices' order
    failing: int  # the devices on which it does not match
    def to_dict(self) -> dict[str, Any]: ...

class LegendEntry:
    code: str
    meaning: str  # a status's name or a hint's kind
    def to_dict(self) -> dict[str, Any]: ...

class OneDeviceTile:
    """A tile that does not match on exactly one device."""

    physical_tile: int
    device: int  # position in FleetMatrix.devices
    name: str
    def to_dict(self) -> dict[str, Any]: ...

class FleetMatrix:
    """Devices side by side; `to_dict` is `acrossDevices` of verify --json."""

    devices: list[str]
    rows: list[MatrixRow]
    legend: list[LegendEntry]
    on_every_device: list[int]
    on_one_device: list[OneDeviceTile]
    def to_dict(self) -> dict[str, Any]: ...

class FleetDevice:
    name: str
    result: DeviceResult
    def to_dict(self) -> dict[str, Any]: ...

class Fleet:
    """Devices verified together against one package."""

    devices: list[FleetDevice]  # in the order given
    matrix: FleetMatrix
    def to_dict(self) -> dict[str, Any]: ...

def fleet_matrix(results: Mapping[str, DeviceResult]) -> FleetMatrix: ...

class Package:
    """A package read by `read`: its model and what can be asked of it.
    It pickles as its message's bytes and how it was read."""

    valid: bool
    failures: list[Failure]
    compiler: str
    build_digest: bytes
    blobs: list[Blob]
    tiles: list[Tile]
    bindings_1: list[Binding]
    bindings_2: list[Binding]
    bindings_3: list[Binding]
    host_exchange: HostExchange
    entry_points: list[EntryPoint]
    device_config_writes: list[DeviceConfigWrite]
    def blob_contents(self, blob: int) -> bytes: ...
    def tile_memory(self, tile: int) -> TileMemory: ...
    def template_setup(self, tile: int) -> Optional[TemplateSetup]: ...
    def expected_record(self, tile: int) -> bytes: ...
    def diff(self, tile: int, record: bytes, *, max: int = 8) -> Diff: ...
    def verify(
        self,
        records: Union[Mapping[int, bytes], str, os.PathLike[str]],
        *,
        tiles: Optional[Iterable[int]] = None,
        max: int = 8,
        threads: Optional[int] = None,
    ) -> DeviceResult: ...
    def verify_fleet(
        self,
        devices: Mapping[str, Union[Mapping[int, bytes], str, os.PathLike[str]]],
        *,
        tiles: Optional[Iterable[int]] = None,
        max: int = 8,
        threads: Optional[int] = None,
    ) -> Fleet: ...
    def unpack(
        self,
        directory: Union[str, os.PathLike[str]],
        *,
        force: bool = False,
        ignore_build_digest: bool = False,
        threads: Optional[int] = None,
    ) -> Unpacked: ...

def read(
    source: Union[str, os.PathLike[str], bytes, bytearray, memoryview, BinaryIO],
    *,
    threads: Optional[int] = None,
    survey: bool = False,
) -> Package:
    """Reads and checks a package. Raises ReadError, or OSError."""

class _Report:
    """A writing report: typed attributes, `to_dict()`, and indexing by the
    dict's keys (the reports were dicts once)."""

    def to_dict(self) -> dict[str, Any]: ...
    def __getitem__(self, key: str) -> Any: ...

class Unpacked(_Report):
    blobs: int
    frames: int
    tiles: int
    ignored_build_digest: Optional[Failure]

class DigestUpdate(_Report):
    blob: int
    stated: bytes
    found: bytes
    file: str

class FrameReplacement(_Report):
    blob: int
    frame: str
    reason: Failure
    level: int

class Packed(_Report):
    size: int
    build_digest: bytes
    blobs: int
    updated_digests: list[DigestUpdate]
    replaced_frames: list[FrameReplacement]

class DroppedBlob(_Report):
    blob: int
    digest: bytes

class Repacked(_Report):
    size: int
    build_digest: bytes
    previous_build_digest: bytes
    blobs: int
    dropped: list[DroppedBlob]

PackageSource = Union[str, os.PathLike[str], bytes, bytearray, memoryview]

def unpack(
    package: PackageSource,
    directory: Union[str, os.PathLike[str]],
    *,
    force: bool = False,
    ignore_build_digest: bool = False,
    threads: Optional[int] = None,
) -> Unpacked:
    """Unpacks a package into `directory`: manifest.json and blobs/. Raises
    ReadError, or OSError."""

def pack(
    directory: Union[str, os.PathLike[str]],
    output: Union[str, os.PathLike[str]],
    *,
    force: bool = False,
    update_digests: bool = False,
    threads: Optional[int] = None,
) -> Packed:
    """Builds the package `directory`/manifest.json describes. Raises
    ValueError for a manifest that is not one, ReadError, or OSError."""

def repack(
    package: PackageSource,
    output: Union[str, os.PathLike[str]],
    *,
    storage: str = "keep",  # 'keep', 'plain' or 'zstd'
    level: int = 3,
    drop_unused_blobs: bool = False,
    force: bool = False,
    threads: Optional[int] = None,
) -> Repacked:
    """Writes a package with its blobs stored anew. Raises as `pack` does."""
