#pragma once

// Damaged packages for tests: the example package, and copies of it, each
// broken in one place and paired with the stage and the element that a read
// must report, and the start of the library's error text.

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "package_builder.hpp"
#include "raw_package.hpp"
#include "zem_package/read_failure.hpp"

namespace zem::testing {

namespace zt = zem::testing;

[[nodiscard]] inline std::vector<std::uint8_t> example_bytes() {
  return zt::build_package(zt::example_application(), zt::example_options());
}

// The example with `tweak` applied to its message before it is written.
[[nodiscard]] inline std::vector<std::uint8_t> tweaked(
    const std::function<void(schema::Application::Builder)>& tweak) {
  zt::PackageOptions options = zt::example_options();
  options.tweak = tweak;
  return zt::build_package(zt::example_application(), options);
}

// The example built from a changed model (digests computed for the change).
[[nodiscard]] inline std::vector<std::uint8_t> with_model(
    const std::function<void(Application&)>& change) {
  Application model = zt::example_application();
  change(model);
  return zt::build_package(model, zt::example_options());
}

// The example with root pointer `index` pointing far past the message's end.
[[nodiscard]] inline std::vector<std::uint8_t> out_of_bounds_pointer(std::size_t index) {
  zt::RawPackage raw(example_bytes());
  const std::size_t at = raw.root_pointer(index);
  raw.set(at, (raw.get(at) & ~std::uint64_t{0xfffffffc}) | (std::uint64_t{0x1000000} << 2));
  return raw.bytes();
}

struct DamagedPackage {
  std::string_view name;
  std::function<std::vector<std::uint8_t>()> bytes;
  ReadStage stage;
  std::string_view element;      // where the read fails
  std::string_view error_start;  // how the library's error text begins
  std::string_view hint{};       // what the toolkit says the file looks like
};

// Test reports name the case instead of dumping its bytes.
inline void PrintTo(const DamagedPackage& damaged, std::ostream* out) { *out << damaged.name; }

[[nodiscard]] inline std::vector<DamagedPackage> damaged_packages() {
  constexpr std::uint32_t bad_text_length = 3;
  const auto bad_text = [] { return capnp::Text::Reader("1.\xff", bad_text_length); };
  return {
      {"EmptyFile", [] { return std::vector<std::uint8_t>{}; }, ReadStage::framing, "",
       "Capnp(failed: premature end of file", "the file is empty"},
      {"TruncatedToHalf",
       [] {
         std::vector<std::uint8_t> bytes = example_bytes();
         bytes.resize(bytes.size() / 2);
         return bytes;
       },
       ReadStage::framing, "", "Capnp(failed: premature end of file"},
      {"TooManySegments",
       [] {
         std::vector<std::uint8_t> bytes = example_bytes();
         bytes[0] = 0xff;  // 511 + 1 segments
         bytes[1] = 0x01;
         return bytes;
       },
       ReadStage::framing, "", "Capnp(failed: message has too many segments"},
      {"FormatVersion3", [] { return tweaked([](auto root) { root.setFormatVersion(3); }); },
       ReadStage::header, "formatVersion", R"(Invalid("incompatible package header"))"},
      {"TargetNotUtf8", [=] { return tweaked([=](auto root) { root.setTarget(bad_text()); }); },
       ReadStage::header, "target", "Utf8("},
      {"TargetOutOfBounds", [] { return out_of_bounds_pointer(1); }, ReadStage::header, "target",
       "Capnp(failed: "},
      {"CompilerNotUtf8", [=] { return tweaked([=](auto root) { root.setCompiler(bad_text()); }); },
       ReadStage::header, "compiler", "Utf8("},
      {"BlobDigestMismatch",
       [] { return tweaked([](auto root) { root.getBlobs()[1].getDigest()[0] ^= 1U; }); },
       ReadStage::blobs, "blobs[1].digest", R"(Invalid("blob digest mismatch"))"},
      {"DuplicateBlob",
       [] { return with_model([](Application& model) { model.blobs.push_back(model.blobs[1]); }); },
       ReadStage::blobs, "blobs[2]", R"(Invalid("duplicate package blob digest"))"},
      {"CompressionCode7",
       [] {
         return tweaked([](auto root) {
           root.getBlobs()[0].setCompression(static_cast<schema::Compression>(7));
         });
       },
       ReadStage::blobs, "blobs[0].compression", "SchemaEnum(NotInSchema(7))"},
      {"CorruptZstdFrame",
       [] {
         return tweaked([](auto root) {
           const std::uint8_t garbage[] = {1, 2, 3, 4, 5, 6, 7, 8};
           root.getBlobs()[0].setData(capnp::Data::Reader(garbage, sizeof garbage));
         });
       },
       ReadStage::blobs, "blobs[0].data", "Io("},
      {"BlobsOutOfBounds", [] { return out_of_bounds_pointer(2); }, ReadStage::blobs, "blobs",
       "Capnp(failed: "},
      {"TilesOutOfBounds", [] { return out_of_bounds_pointer(3); }, ReadStage::structure, "tiles",
       "Capnp(failed: "},
      {"BindingNameNotUtf8",
       [=] { return tweaked([=](auto root) { root.getBindings2()[0].setName(bad_text()); }); },
       ReadStage::structure, "bindings2[0].name", "Utf8("},
      {"DuplicateTile",
       [] { return with_model([](Application& model) { model.tiles[0].physical_tile = 7; }); },
       ReadStage::validation, "tiles[1]", R"(Invalid("duplicate physical tile 7"))"},
      {"HostCallWithoutInvocations",
       [] {
         return with_model(
             [](Application& model) { model.host_exchange.calls[0].invocations = 0; });
       },
       ReadStage::validation, "hostExchange.calls[0]",
       R"(Invalid("host call host_print has no invocations"))"},
      {"BuildDigestMismatch",
       [] { return tweaked([](auto root) { root.getBuildDigest()[31] ^= 0x80U; }); },
       ReadStage::build_digest, "buildDigest", R"(Invalid("build digest mismatch"))"},
      {"BuildDigestAbsent",
       [] { return tweaked([](auto root) { static_cast<void>(root.disownBuildDigest()); }); },
       ReadStage::build_digest, "buildDigest", R"(Invalid("build digest mismatch"))"},
      {"BuildDigestOutOfBounds", [] { return out_of_bounds_pointer(9); }, ReadStage::build_digest,
       "buildDigest", "Capnp(failed: "},
  };
}

}  // namespace zem::testing
