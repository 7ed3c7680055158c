// Packing: a package built from a manifest and its blobs' files.

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <new>
#include <optional>

#include "blobs/sha256.hpp"
#include "errors/try.hpp"
#include "model/model_structure.hpp"
#include "writing/message_layout.hpp"
#include "writing/package_assembly.hpp"
#include "zem_package/io.hpp"
#include "zem_package/manifest.hpp"
#include "zem_package/package_directory.hpp"

namespace zem {
namespace {

std::string short_hex(const Digest& digest) {
  return fmt::format("{:02x}", fmt::join(std::span(digest).first(6), ""));
}

// Reads a whole file of the directory, no more than `most` bytes of it. A
// failure is the manifest's, at the value that names the file.
class DirectoryFiles {
 public:
  DirectoryFiles(std::string directory, std::string manifest)
      : directory_(std::move(directory)), manifest_(std::move(manifest)) {}

  [[nodiscard]] std::string path_of(const std::string& name) const {
    return directory_ + "/" + name;
  }

  [[nodiscard]] WriteResult<ByteBuffer> read(const std::string& name, const std::string& place,
                                             std::uint64_t most, std::size_t blob) const {
    const auto refuse = [&](std::string why) {
      return std::unexpected(WriteFailure::manifest_error(manifest_, place, name + ": " + why));
    };
    auto file = io::open_regular_file(path_of(name).c_str());
    if (!file) {
      if (file.error().not_regular()) {
        return refuse(fmt::format("not a regular file ({})", io::describe(file.error().type)));
      }
      return refuse(io::os_error_text(file.error().os_error));
    }
    if (file->size > most) {
      return std::unexpected(
          WriteFailure::unstorable(ElementPath{{PackageField::blobs, blob}}.to_string(),
                                   fmt::format("{} holds {} bytes, more than one blob stores ({})",
                                               name, file->size, most)));
    }
    std::optional<ByteBuffer> bytes = ByteBuffer::allocate(static_cast<std::size_t>(file->size));
    if (!bytes) return refuse(fmt::format("no memory for its {} bytes", file->size));
    auto got = io::read_exactly(file->fd.get(), bytes->bytes());
    if (!got) return refuse(io::os_error_text(got.error().os_error));
    if (*got != bytes->size()) return refuse("changed while it was read");
    return std::move(*bytes);
  }

 private:
  std::string directory_;
  std::string manifest_;
};

WriteResult<PackageManifest> read_manifest_file(const std::string& path) {
  auto file = io::open_regular_file(path.c_str());
  if (!file) {
    if (file.error().not_regular()) {
      return std::unexpected(WriteFailure::file_problem(
          path, fmt::format("not a regular file ({})", io::describe(file.error().type))));
    }
    return std::unexpected(WriteFailure::file_error(path, file.error().os_error));
  }
  if (file->size > max_manifest_bytes) {
    return std::unexpected(
        WriteFailure::manifest_error(path, "",
                                     fmt::format("{} bytes are more than a manifest may hold ({})",
                                                 file->size, max_manifest_bytes)));
  }
  std::vector<std::uint8_t> text(static_cast<std::size_t>(file->size));
  auto got = io::read_exactly(file->fd.get(), text);
  if (!got) return std::unexpected(WriteFailure::file_error(path, got.error().os_error));
  text.resize(*got);
  auto manifest = parse_manifest(text);
  if (!manifest) {
    WriteFailure failure = std::move(manifest).error();
    failure.path = path;
    return std::unexpected(std::move(failure));
  }
  return manifest;
}

// The model the manifest describes, its blobs left to the assembler.
PackageModel structure_of(PackageManifest& manifest) {
  PackageModel model;
  model.compiler = std::move(manifest.compiler);
  move_structure(manifest, model);
  return model;
}

// Refuses an output that is one of the files packing reads.
WriteResult<void> refuse_inputs_as_output(const std::string& output, const std::string& manifest,
                                          const PackageManifest& contents,
                                          const DirectoryFiles& files) {
  ZEM_TRY(refuse_input_as_output(output, manifest, "the manifest being read"));
  for (std::size_t i = 0; i < contents.blobs.size(); ++i) {
    const ManifestBlob& blob = contents.blobs[i];
    ZEM_TRY(refuse_input_as_output(output, files.path_of(blob.file),
                                   fmt::format("the file of blobs[{}]", i)));
    if (blob.frame) {
      ZEM_TRY(refuse_input_as_output(output, files.path_of(*blob.frame),
                                     fmt::format("the stored frame of blobs[{}]", i)));
    }
  }
  return {};
}

class BlobPacker {
 public:
  BlobPacker(const PackageManifest& manifest, const DirectoryFiles& files,
             std::string manifest_path, bool update_digests)
      : manifest_(manifest),
        files_(files),
        manifest_path_(std::move(manifest_path)),
        update_digests_(update_digests),
        updates_(manifest.blobs.size()),
        replacements_(manifest.blobs.size()) {}

  WriteResult<PreparedBlob> prepare(BlobWorkshop& workshop, std::size_t index) {
    const ManifestBlob& blob = manifest_.blobs[index];
    const std::string place = fmt::format("blobs[{}]", index);
    // A plain blob's contents are what it stores. A compressed one's may be
    // larger, but are read into memory whole: they are held to the largest
    // message, so that a sparse file claiming terabytes is refused unread.
    const std::uint64_t most = blob.compression == compression_none
                                   ? max_list_elements
                                   : framing_bytes + 8 * max_message_words;
    auto contents = files_.read(blob.file, place + ".file", most, index);
    if (!contents) return std::unexpected(std::move(contents).error());
    const Digest digest = sha256(contents->bytes());
    if (blob.digest && *blob.digest != digest) {
      if (!update_digests_) {
        return std::unexpected(WriteFailure::manifest_error(
            manifest_path_, place + ".digest",
            fmt::format("{}... is not the digest of {} ({}...)", short_hex(*blob.digest), blob.file,
                        short_hex(digest))));
      }
      updates_[index] = DigestUpdate{index, *blob.digest, digest, blob.file};
    }
    const int level = blob.level.value_or(default_zstd_level);
    WriteResult<PreparedBlob> prepared = std::unexpected(WriteFailure{});
    if (blob.compression == compression_none) {
      prepared = prepare_blob(index, contents->bytes(), StorePlain{}, workshop, digest);
    } else if (blob.frame) {
      auto frame = files_.read(*blob.frame, place + ".frame", max_list_elements, index);
      if (!frame) return std::unexpected(std::move(frame).error());
      // Kept as it is, the frame's memory stays with the blob.
      BlobStorageChoice kept = StoreFrame{std::move(*frame), blob.declared_size};
      prepared = prepare_blob(index, contents->bytes(), kept, workshop, digest);
      if (prepared) {
        prepared->owned = std::move(std::get<StoreFrame>(kept).frame);
        return prepared;
      }
      if (prepared.error().kind == WriteFailure::Kind::invalid_package) {
        // The frame does not hold these contents (the blob's file was
        // edited, or the frame): the contents win, compressed anew.
        replacements_[index] =
            FrameReplacement{index, *blob.frame, prepared.error().failure, level};
        prepared = prepare_blob(index, contents->bytes(), StoreZstd{level, std::nullopt}, workshop,
                                digest);
      }
    } else {
      prepared = prepare_blob(index, contents->bytes(), StoreZstd{level, blob.declared_size},
                              workshop, digest);
    }
    if (prepared && prepared->owned.empty() && !prepared->payload.empty()) {
      prepared->owned = std::move(*contents);  // a plain blob stores its contents
    }
    return prepared;
  }

  void report(PackReport& out) {
    for (auto& update : updates_) {
      if (update) out.updated_digests.push_back(std::move(*update));
    }
    for (auto& replacement : replacements_) {
      if (replacement) out.replaced_frames.push_back(std::move(*replacement));
    }
  }

 private:
  const PackageManifest& manifest_;
  const DirectoryFiles& files_;
  std::string manifest_path_;
  bool update_digests_;
  // By blob, each written by the one thread that prepares the blob.
  std::vector<std::optional<DigestUpdate>> updates_;
  std::vector<std::optional<FrameReplacement>> replacements_;
};

WriteResult<PackReport> pack(const std::string& directory, const std::string& output,
                             const PackOptions& options) {
  const std::string manifest_path = directory + "/" + std::string(manifest_file_name);
  auto manifest = read_manifest_file(manifest_path);
  if (!manifest) return std::unexpected(std::move(manifest).error());
  const DirectoryFiles files(directory, manifest_path);
  ZEM_TRY(refuse_inputs_as_output(output, manifest_path, *manifest, files));
  auto sink = FileSink::create(output, options.replace_existing);
  if (!sink) return std::unexpected(std::move(sink).error());

  ZEM_TRY(check_compiler(manifest->compiler));
  PackageAssembler assembler(**sink);
  BlobPacker packer(*manifest, files, manifest_path, options.update_digests);
  ZEM_TRY(assemble_blobs(
      manifest->blobs.size(), options.threads, assembler,
      [&](BlobWorkshop& workshop, std::size_t index) { return packer.prepare(workshop, index); }));
  PackReport report;
  auto written = assembler.finish(structure_of(*manifest));
  if (!written) return std::unexpected(std::move(written).error());
  ZEM_TRY((*sink)->commit(written->size));
  report.package = std::move(*written);
  packer.report(report);
  return report;
}

}  // namespace

WriteResult<PackReport> pack_directory(const std::string& directory, const std::string& output,
                                       const PackOptions& options) {
  try {
    return pack(directory, output, options);
  } catch (const std::bad_alloc&) {
    return std::unexpected(WriteFailure::file_problem(output, "memory allocation failed"));
  }
}

}  // namespace zem
