#pragma once

// Puts a package together in a sink, in the order a read takes it apart:
// the header's text, the blobs one after the other (each stored as soon as
// it is ready), then the structure, checked as a read checks it, laid out
// after the blobs and sealed with its build digest.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include "writing/blob_preparation.hpp"
#include "writing/output_sink.hpp"
#include "zem_package/package_model.hpp"
#include "zem_package/package_writer.hpp"

namespace zem {

// Refuses a compiler text that a read refuses: it is read with the header.
[[nodiscard]] WriteResult<void> check_compiler(const std::string& compiler);

class PackageAssembler {
 public:
  explicit PackageAssembler(OutputSink& sink) : sink_(sink) {}

  // Stores the next blob of the table after those added so far. A digest
  // added before is refused as a read refuses it.
  [[nodiscard]] WriteResult<void> add_blob(const PreparedBlob& blob);

  [[nodiscard]] std::size_t blobs_added() const noexcept { return blobs_.size(); }

  // Checks the structure of `model` as a read does after the blobs (its
  // texts, then every rule of validation) against the blobs added, which
  // replace `model.blobs`; then writes the rest of the message, its build
  // digest computed. The sink then holds the whole package.
  [[nodiscard]] WriteResult<WrittenPackage> finish(PackageModel model);

 private:
  OutputSink& sink_;
  std::vector<BlobInfo> blobs_;
  std::unordered_map<Digest, std::size_t, DigestHash> by_digest_;
  std::uint64_t blob_words_ = 0;  // the words the blobs added take
};

// Prepares blobs 0 to `count` - 1 with `prepare`, on up to `threads`
// threads (each with a workshop of its own), and adds them to `assembler` in
// table order as they are ready. The first failure in table order is
// reported, whatever the threads' timing; every thread started is joined
// before this returns.
using BlobPreparer = std::function<WriteResult<PreparedBlob>(BlobWorkshop&, std::size_t)>;
[[nodiscard]] WriteResult<void> assemble_blobs(std::size_t count, unsigned threads,
                                               PackageAssembler& assembler,
                                               const BlobPreparer& prepare);

}  // namespace zem
