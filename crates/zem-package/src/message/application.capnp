# Application package: one message whose root is `Application`.
#
# The layout of every struct is part of the file format: data offsets and
# pointer indices must never move. Fields are declared in the order that gives
# the layout (tests pin every offset through schema reflection), so a new or
# reordered field is caught before it reaches a package.

@0xd6f1c5e0a4b3927e;

$import "/capnp/c++.capnp".namespace("zem::schema");

struct Application {
  formatVersion @0 :UInt32;          # data 0
  tileMemoryBase @1 :UInt32;         # data 4
  tileMemorySize @2 :UInt32;         # data 8
  compiler @3 :Text;                 # ptr 0
  target @4 :Text;                   # ptr 1
  blobs @5 :List(Blob);              # ptr 2
  tiles @6 :List(TileImage);         # ptr 3
  bindings1 @7 :List(Binding);       # ptr 4
  bindings2 @8 :List(Binding);       # ptr 5
  bindings3 @9 :List(Binding);       # ptr 6
  hostExchange @10 :HostExchange;    # ptr 7
  entryPoints @11 :List(EntryPoint); # ptr 8
  buildDigest @12 :Data;             # ptr 9
  deviceConfigWrites @13 :List(DeviceConfigWrite); # ptr 10
}

enum Compression {
  none @0;
  zstd @1;
}

struct Blob {
  uncompressedSize @0 :UInt64;       # data 0
  compression @1 :Compression;       # data 8
  digest @2 :Data;                   # ptr 0
  data @3 :Data;                     # ptr 1
}

struct TileImage {
  physicalTile @0 :UInt32;           # data 0
  aux1 @1 :UInt32;                   # data 4
  aux2 @2 :UInt32;                   # data 8
  aux3 @3 :UInt32;                   # data 12
  segments @4 :List(Segment);        # ptr 0
}

struct Segment {
  address @0 :UInt32;                # data 0
  memorySize @1 :UInt32;             # data 4
  blob @2 :UInt32;                   # data 8
  blobOffset @3 :UInt64;             # data 16
  dataSize @4 :UInt32;               # data 12: fills the hole left before blobOffset
  aux @5 :UInt32;                    # data 24
}

struct Binding {
  name @0 :Text;                     # ptr 0
  label @1 :Text;                    # ptr 1
  values @2 :List(UInt32);           # ptr 2
  slices @3 :List(RegionSlice);      # ptr 3
}

struct RegionSlice {
  physicalTile @0 :UInt32;           # data 0
  address @1 :UInt32;                # data 4
  offset @2 :UInt64;                 # data 8
  length @3 :UInt64;                 # data 16
}

struct HostExchange {
  aux @0 :UInt32;                    # data 0
  startupPage @1 :UInt32;            # data 4
  startupOffset @2 :UInt64;          # data 8
  pages @3 :List(HostPage);          # ptr 0
  requiredPages @4 :List(UInt32);    # ptr 1
  calls @5 :List(HostCall);          # ptr 2
}

struct HostPage {
  id @0 :UInt32;                     # data 0
  size @1 :UInt64;                   # data 8
}

struct HostCall {
  name @0 :Text;                     # ptr 0
  aux1 @1 :UInt32;                   # data 0
  aux2 @2 :UInt32;                   # data 4
  invocations @3 :UInt32 = 1;        # data 8, stored XOR 1
  pageRefs1 @4 :List(HostPageRef);   # ptr 1
  pageRefs2 @5 :List(HostPageRef);   # ptr 2
}

struct HostPageRef {
  page @0 :UInt32;                   # data 0
  offset @1 :UInt64;                 # data 8
  aux @2 :UInt64;                    # data 16
  length @3 :UInt64;                 # data 24
}

struct EntryPoint {
  name @0 :Text;                     # ptr 0
  aux @1 :UInt32;                    # data 0
  externalSyncs @2 :UInt32;          # data 4
}

struct DeviceConfigWrite {
  address @0 :UInt32;                # data 0
  value @1 :UInt32;                  # data 4
}
