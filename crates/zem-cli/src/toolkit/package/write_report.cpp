#include "toolkit/package/write_report.hpp"

#include <fmt/format.h>

#include <array>
#include <cerrno>

#include "toolkit/package/failure_report.hpp"
#include "toolkit/package/package_input.hpp"
#include "toolkit/package/file_look.hpp"
#include "zem_package/io.hpp"

namespace zem::toolkit {
namespace {

// What a file that is no package looks like, from its first bytes.
std::vector<std::string> hints_for_file(const std::string& path) {
  auto file = io::open_regular_file(path.c_str());
  if (!file) return {};
  auto head = io::read_prefix(*file, file_look_bytes);
  if (!head) return {};
  return framing_hints(file_look(*head, file->size), file->size);
}

}  // namespace

Failure write_failure(const WriteFailure& failure, WriteInput input,
                      const std::string& input_path) {
  switch (failure.kind) {
    case WriteFailure::Kind::invalid_package: {
      if (input == WriteInput::manifest) {
        return file_error(input_path,
                          "refusing to write an invalid package: " + failure_line(failure.failure));
      }
      Failure result = invalid_package(input_path, failure.failure);
      if (failure.failure.stage == ReadStage::framing) result.hints = hints_for_file(input_path);
      return result;
    }
    case WriteFailure::Kind::unstorable:
      // What the package could not hold is the input's, read from its path.
      return file_error(input_path, failure.place.empty() ? failure.message
                                                          : failure.place + ": " + failure.message);
    case WriteFailure::Kind::file:
      if (failure.os_error == EEXIST && failure.message == "exists") {
        return file_error(failure.path, "exists; give --force to overwrite it");
      }
      if (failure.os_error == ENOTEMPTY) {
        return file_error(failure.path, "not empty; give --force to write into it");
      }
      return file_error(failure.path, failure.message);
    case WriteFailure::Kind::manifest: {
      Failure result =
          file_error(failure.path, failure.place.empty() ? failure.message
                                                         : failure.place + ": " + failure.message);
      if (failure.place.ends_with("].digest") &&
          failure.message.find(" is not the digest of ") != std::string::npos) {
        result.hints.push_back("give --update-digests to take the digests of the blobs' files");
      }
      return result;
    }
  }
  return Failure{failure.to_string()};
}

}  // namespace zem::toolkit
