# Structs that lie where the package's do but with shorter data sections, to
# check that a field beyond the end of a struct's data reads as its default.

@0xe5a1c4b9d3f2a617;

$import "/capnp/c++.capnp".namespace("zem::short_layouts");

# Data section of 8 bytes: tileMemorySize (byte 8) is missing.
struct Application {
  formatVersion @0 :UInt32;
  tileMemoryBase @1 :UInt32;
  compiler @2 :Text;
  target @3 :Text;
  blobs @4 :List(Blob);
  tiles @5 :List(TileImage);
  bindings1 @6 :AnyPointer;
  bindings2 @7 :AnyPointer;
  bindings3 @8 :AnyPointer;
  hostExchange @9 :HostExchange;
}

# 8 bytes: no compression field.
struct Blob {
  uncompressedSize @0 :UInt64;
  digest @1 :Data;
  data @2 :Data;
}

# 8 bytes: aux2 and aux3 missing.
struct TileImage {
  physicalTile @0 :UInt32;
  aux1 @1 :UInt32;
  segments @2 :List(Segment);
}

# 8 bytes: blob, dataSize, blobOffset and aux missing.
struct Segment {
  address @0 :UInt32;
  memorySize @1 :UInt32;
}

# 8 bytes: startupOffset missing.
struct HostExchange {
  aux @0 :UInt32;
  startupPage @1 :UInt32;
  pages @2 :List(HostPage);
  requiredPages @3 :List(UInt32);
  calls @4 :List(HostCall);
}

# 8 bytes: size missing.
struct HostPage {
  id @0 :UInt32;
}

# 8 bytes: invocations missing, so it reads as its default of 1.
struct HostCall {
  name @0 :Text;
  aux1 @1 :UInt32;
  aux2 @2 :UInt32;
  pageRefs1 @3 :List(HostPageRef);
}

# 16 bytes: aux and length missing.
struct HostPageRef {
  page @0 :UInt32;
  offset @1 :UInt64;
}
