#pragma once

// Where a package's bytes go while it is written: into memory, or into a
// temporary file beside the target that takes the target's name only once
// it is whole.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zem_package/io.hpp"
#include "zem_package/write_failure.hpp"

namespace zem {

class OutputSink {
 public:
  OutputSink() = default;
  OutputSink(const OutputSink&) = delete;
  OutputSink& operator=(const OutputSink&) = delete;
  virtual ~OutputSink() = default;

  // Writes `bytes` at `offset`. Bytes never written, below the end of what
  // was, read as zeros.
  [[nodiscard]] virtual WriteResult<void> write_at(std::uint64_t offset,
                                                   std::span<const std::uint8_t> bytes) = 0;
};

class MemorySink final : public OutputSink {
 public:
  [[nodiscard]] WriteResult<void> write_at(std::uint64_t offset,
                                           std::span<const std::uint8_t> bytes) override;
  [[nodiscard]] std::vector<std::uint8_t> take() && { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
};

class FileSink final : public OutputSink {
 public:
  // Checks the target before anything is written: a file at its path is
  // refused unless `replace_existing` (with the system's EEXIST), and so is
  // anything there that is no regular file. Then creates the temporary file
  // in the target's directory, which `commit` renames to the target and
  // which is removed if it never is.
  [[nodiscard]] static WriteResult<std::unique_ptr<FileSink>> create(const std::string& target,
                                                                     bool replace_existing);
  ~FileSink() override;

  [[nodiscard]] WriteResult<void> write_at(std::uint64_t offset,
                                           std::span<const std::uint8_t> bytes) override;

  // Closes the file, which must hold `size` bytes, and gives it the target's
  // name: atomically, and without replacing a file that appeared meanwhile
  // unless that was allowed.
  [[nodiscard]] WriteResult<void> commit(std::uint64_t size);

 private:
  FileSink(std::string target, std::string temporary, io::FileDescriptor fd, bool replace_existing)
      : target_(std::move(target)),
        temporary_(std::move(temporary)),
        fd_(std::move(fd)),
        replace_existing_(replace_existing) {}

  std::string target_;
  std::string temporary_;
  io::FileDescriptor fd_;
  bool replace_existing_;
  bool committed_ = false;
};

// The target `path` refused as it stands: an existing file without leave to
// replace it, or something other than a regular file. Nothing when it may be
// written.
[[nodiscard]] WriteResult<void> check_output_path(const std::string& path, bool replace_existing);

// Refuses `output` when it names the file `input` (by another path or link
// too), which writing it would replace: "is the package being read".
[[nodiscard]] WriteResult<void> refuse_input_as_output(const std::string& output,
                                                       const std::string& input,
                                                       std::string_view what);

}  // namespace zem
