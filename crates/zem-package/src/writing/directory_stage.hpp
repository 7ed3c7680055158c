#pragma once

// Files written into a directory all at once or not at all: they go into a
// hidden directory inside it first, and are moved into place, the manifest
// last, only once everything was written.

#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "zem_package/write_failure.hpp"

namespace zem {

class DirectoryStage {
 public:
  // Prepares to write into `directory`: creates it when it is missing;
  // refuses something that is not a directory, and one that is not empty
  // unless `into_nonempty` (with the system's ENOTEMPTY).
  [[nodiscard]] static WriteResult<std::unique_ptr<DirectoryStage>> create(
      const std::string& directory, bool into_nonempty);
  DirectoryStage(const DirectoryStage&) = delete;
  DirectoryStage& operator=(const DirectoryStage&) = delete;
  // Removes everything written, and the directory when it was created
  // here, unless the files were committed.
  ~DirectoryStage();

  // Writes the new file `relative` ("blobs/0.bin", in a subdirectory that
  // `make_subdirectory` made) with `bytes`. Several threads may write
  // different files at once. A failure names the file's final path.
  [[nodiscard]] WriteResult<void> write_file(const std::string& relative,
                                             std::span<const std::uint8_t> bytes);
  [[nodiscard]] WriteResult<void> make_subdirectory(const std::string& name);

  // Moves every file written into the directory, replacing files of the same
  // names: a subdirectory's files first (the whole subdirectory when the
  // directory has none of that name), then `last`.
  [[nodiscard]] WriteResult<void> commit(const std::string& last);

 private:
  DirectoryStage(std::string directory, std::string stage, bool created)
      : directory_(std::move(directory)), stage_(std::move(stage)), created_(created) {}

  [[nodiscard]] std::string final_path(const std::string& relative) const {
    return directory_ + "/" + relative;
  }

  std::string directory_;
  std::string stage_;
  bool created_;  // the directory itself, when it was missing
  bool committed_ = false;
  std::mutex mutex_;
  std::vector<std::string> subdirectories_;
  std::vector<std::string> files_;  // relative names, guarded by `mutex_`
};

}  // namespace zem
