#include "writing/checked_read.hpp"

#include <fmt/format.h>

#include "message/framing.hpp"
#include "reading/read_completion.hpp"
#include "zem_package/io.hpp"

namespace zem {

WriteResult<CheckedRead> read_checked(const PackageOrigin& origin, unsigned threads,
                                      BlobObserver* observer, bool allow_build_digest_failure) {
  const ReadOptions options{threads, ReadMode::strict};
  ReadResult<ReadPackage> read = std::unexpected(ReadFailure{});
  if (!origin.path) {
    read = read_package([&] { return read_framed_message(origin.bytes); }, options,
                        KeepContents::no, observer);
  } else {
    auto file = io::open_regular_file(origin.path->c_str());
    if (!file) {
      if (file.error().not_regular()) {
        return std::unexpected(WriteFailure::file_problem(
            *origin.path, fmt::format("not a regular file ({})", io::describe(file.error().type))));
      }
      return std::unexpected(WriteFailure::file_error(*origin.path, file.error().os_error));
    }
    const int fd = file->fd.get();
    read = read_package([&] { return read_framed_message(fd, threads); }, options, KeepContents::no,
                        observer);
  }
  if (!read) return std::unexpected(WriteFailure::invalid_package(std::move(read).error()));

  CheckedRead checked{std::move(*read), std::nullopt};
  const MessageContents& contents = checked.package.contents;
  if (auto completed = complete_model(contents.model, contents.stored_build_digest); !completed) {
    if (!allow_build_digest_failure || completed.error().stage != ReadStage::build_digest) {
      return std::unexpected(WriteFailure::invalid_package(std::move(completed).error()));
    }
    checked.build_digest_failure = std::move(completed).error();
  }
  return checked;
}

}  // namespace zem
