#include "writing/package_assembly.hpp"

#include <fmt/format.h>

#include <array>
#include <new>
#include <optional>
#include <utility>

#include "blobs/ordered_work.hpp"
#include "message/mapped_region.hpp"
#include "writing/message_layout.hpp"
#include "zem_package/utf8.hpp"

namespace zem {
namespace {

using F = PackageField;

// The failure a read reports for a text that is not UTF-8.
std::optional<ReadFailure> text_failure(const std::string& text, ReadStage stage,
                                        ElementPath place) {
  const auto fault = check_utf8({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  if (!fault) return std::nullopt;
  return ReadFailure{
      PackageError::utf8(fault->valid_up_to, fault->error_len), stage, std::move(place), {}};
}

// The texts of the structure, in the order a read reads them.
std::optional<ReadFailure> structure_text_failure(const PackageModel& model) {
  for (const BindingList& list : binding_lists(model)) {
    for (std::size_t i = 0; i < list.bindings.size(); ++i) {
      const ElementPath at{{list.field, i}};
      if (auto failure =
              text_failure(list.bindings[i].name, ReadStage::structure, at.then(F::name))) {
        return failure;
      }
      if (auto failure =
              text_failure(list.bindings[i].label, ReadStage::structure, at.then(F::label))) {
        return failure;
      }
    }
  }
  const std::vector<HostCall>& calls = model.host_exchange.calls;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (auto failure = text_failure(calls[i].name, ReadStage::structure,
                                    ElementPath{{F::host_exchange}, {F::calls, i}, {F::name}})) {
      return failure;
    }
  }
  for (std::size_t i = 0; i < model.entry_points.size(); ++i) {
    if (auto failure = text_failure(model.entry_points[i].name, ReadStage::structure,
                                    ElementPath{{F::entry_points, i}, {F::name}})) {
      return failure;
    }
  }
  return std::nullopt;
}

WriteFailure too_large(std::uint64_t words) {
  return WriteFailure::unstorable(
      "", fmt::format("the package would take {} bytes, more than one message holds ({})",
                      framing_bytes + 8 * words, framing_bytes + 8 * max_message_words));
}

// The framing of a message of one segment of `words` words.
std::array<std::uint8_t, framing_bytes> framing(std::uint64_t words) {
  std::array<std::uint8_t, framing_bytes> bytes{};  // the segment count less one: 0
  for (unsigned i = 0; i < 4; ++i) bytes[4 + i] = static_cast<std::uint8_t>(words >> (8 * i));
  return bytes;
}

}  // namespace

WriteResult<void> check_compiler(const std::string& compiler) {
  if (auto failure = text_failure(compiler, ReadStage::header, ElementPath{{F::compiler}})) {
    return std::unexpected(WriteFailure::invalid_package(std::move(*failure)));
  }
  return {};
}

WriteResult<void> PackageAssembler::add_blob(const PreparedBlob& blob) {
  const std::size_t index = blobs_.size();
  BlobStorage storage{blob.compression, blob.payload.size(), blob.declared_size, 0};
  if (const auto seen = by_digest_.find(blob.digest); seen != by_digest_.end()) {
    std::vector<FailureDetail> details{
        {"compression", detail_value::Compression{blob.compression}}};
    if (blob.compression == compression_zstd) {
      details.push_back({"declared size", detail_value::Number{blob.declared_size}});
    }
    details.push_back({"stored size", detail_value::Number{blob.payload.size()}});
    details.push_back(
        {"stored digest", detail_value::Digest{{blob.digest.begin(), blob.digest.end()}}});
    details.push_back({"same digest as", ElementPath{{F::blobs, seen->second}}});
    return std::unexpected(WriteFailure::invalid_package(
        ReadFailure{PackageError::invalid("duplicate package blob digest"), ReadStage::blobs,
                    ElementPath{{F::blobs, index}}, std::move(details)}));
  }
  const std::uint64_t words = words_for_bytes(blob.payload.size());
  if (words > max_message_words - root_pointer_words - blob_words_) {
    return std::unexpected(too_large(root_pointer_words + blob_words_ + words));
  }
  if (!blob.payload.empty()) {
    storage.file_offset = payload_file_offset(blob_words_);
    if (auto written = sink_.write_at(storage.file_offset, blob.payload); !written) {
      return written;
    }
  }
  blob_words_ += words;
  by_digest_.emplace(blob.digest, index);
  blobs_.push_back(BlobInfo{blob.digest, blob.size, storage});
  return {};
}

WriteResult<WrittenPackage> PackageAssembler::finish(PackageModel model) {
  model.blobs = std::move(blobs_);
  if (auto failure = structure_text_failure(model)) {
    return std::unexpected(WriteFailure::invalid_package(std::move(*failure)));
  }
  if (auto valid = model.validate(); !valid) {
    return std::unexpected(WriteFailure::invalid_package(std::move(valid).error()));
  }
  auto structure = structure_words(model);
  if (!structure) return std::unexpected(std::move(structure).error());
  const std::uint64_t blob_end = root_pointer_words + blob_words_;
  if (*structure > max_message_words - blob_end)
    return std::unexpected(too_large(blob_end + *structure));
  const std::uint64_t total = blob_end + *structure;

  WrittenPackage written;
  written.build_digest = model.build_digest();
  {
    // The blobs' places in this memory are reserved but never touched, so
    // they cost nothing: only the structure's pages are written.
    std::optional<MappedRegion> region = MappedRegion::map(8 * total);
    if (!region)
      return std::unexpected(WriteFailure::unstorable("", "no memory to lay out the message"));
    const std::span words(reinterpret_cast<capnp::word*>(region->data()), total);
    if (auto built = build_message(words, model, written.build_digest); !built) {
      return std::unexpected(std::move(built).error());
    }
    const std::span<const std::uint8_t> bytes(region->data(), 8 * total);
    const auto header = framing(total);
    const auto write = [&](std::uint64_t offset, std::span<const std::uint8_t> part) {
      return sink_.write_at(offset, part);
    };
    if (auto done = write(0, header); !done) return std::unexpected(std::move(done).error());
    if (auto done = write(framing_bytes, bytes.first(8 * root_pointer_words)); !done) {
      return std::unexpected(std::move(done).error());
    }
    if (auto done = write(framing_bytes + 8 * blob_end, bytes.subspan(8 * blob_end)); !done) {
      return std::unexpected(std::move(done).error());
    }
  }
  written.size = framing_bytes + 8 * total;
  written.blobs = std::move(model.blobs);
  return written;
}

WriteResult<void> assemble_blobs(std::size_t count, unsigned threads, PackageAssembler& assembler,
                                 const BlobPreparer& prepare) {
  // Blobs go in batches, so that what is kept for each blob waiting its turn
  // stays small however many blobs the table has.
  constexpr std::size_t batch_size = 4096;
  const unsigned workers = std::max(threads, 1U);
  std::vector<BlobWorkshop> workshops;
  try {
    workshops.reserve(workers);
    for (unsigned i = 0; i < workers; ++i) workshops.emplace_back();
  } catch (const std::bad_alloc&) {
    return std::unexpected(WriteFailure::unstorable("", "memory allocation failed"));
  }
  for (std::size_t first = 0; first < count; first += batch_size) {
    const std::size_t size = std::min(batch_size, count - first);
    std::vector<std::optional<WriteResult<PreparedBlob>>> results(size);
    std::optional<WriteFailure> failure;
    const auto work = [&](unsigned worker, std::size_t index) noexcept {
      try {
        results[index] = prepare(workshops[worker], first + index);
      } catch (const std::bad_alloc&) {
        results[index] = std::unexpected(WriteFailure::unstorable("", "memory allocation failed"));
      }
      return results[index]->has_value();
    };
    // In table order; each blob's memory goes as soon as it is stored.
    const auto accept = [&](std::size_t index) noexcept {
      WriteResult<void> added = assembler.add_blob(**results[index]);
      results[index].reset();
      if (!added) failure = std::move(added).error();
      return added.has_value();
    };
    const std::optional<std::size_t> failed = run_in_order(size, workers, work, accept);
    if (!failed) continue;
    if (failure) return std::unexpected(std::move(*failure));
    return std::unexpected(std::move(*results[*failed]).error());
  }
  return {};
}

}  // namespace zem
