// Writing a package from a model with every blob's contents in memory.

#include "zem_package/package_writer.hpp"

#include <new>

#include "errors/try.hpp"
#include "model/model_structure.hpp"
#include "writing/package_assembly.hpp"

namespace zem {
namespace {

// The model without its blobs, which the assembler fills as it stores them.
PackageModel structure_of(const Application& model) {
  PackageModel structure;
  structure.compiler = model.compiler;
  copy_structure(model, structure);
  return structure;
}

WriteResult<WrittenPackage> write_application(const Application& model,
                                              std::span<const BlobStorageChoice> storage,
                                              unsigned threads, OutputSink& sink) {
  ZEM_TRY(check_compiler(model.compiler));
  static const BlobStorageChoice plain{StorePlain{}};
  PackageAssembler assembler(sink);
  ZEM_TRY(assemble_blobs(
      model.blobs.size(), threads, assembler,
      [&](BlobWorkshop& workshop, std::size_t index) -> WriteResult<PreparedBlob> {
        const Blob& blob = model.blobs[index];
        auto prepared =
            prepare_blob(index, blob.data.bytes(), index < storage.size() ? storage[index] : plain,
                         workshop, std::nullopt);
        if (prepared && prepared->digest != blob.digest) {
          return std::unexpected(
              WriteFailure::invalid_package(digest_mismatch(index, *prepared, blob.digest)));
        }
        return prepared;
      }));
  try {
    return assembler.finish(structure_of(model));
  } catch (const std::bad_alloc&) {
    return std::unexpected(WriteFailure::unstorable("", "memory allocation failed"));
  }
}

}  // namespace

WriteResult<std::vector<std::uint8_t>> write_package(const Application& model,
                                                     std::span<const BlobStorageChoice> storage,
                                                     const WriteOptions& options) {
  MemorySink sink;
  auto written = write_application(model, storage, options.threads, sink);
  if (!written) return std::unexpected(std::move(written).error());
  return std::move(sink).take();
}

WriteResult<WrittenPackage> write_package_file(const Application& model,
                                               std::span<const BlobStorageChoice> storage,
                                               const std::string& path,
                                               const WriteOptions& options) {
  auto sink = FileSink::create(path, options.replace_existing);
  if (!sink) return std::unexpected(std::move(sink).error());
  auto written = write_application(model, storage, options.threads, **sink);
  if (!written) return written;
  ZEM_TRY((*sink)->commit(written->size));
  return written;
}

}  // namespace zem
