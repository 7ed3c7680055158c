#pragma once

#include <cstdint>
#include <expected>
#include <string>

#include "zem_package/api.hpp"
#include "zem_package/read_failure.hpp"

namespace zem {

// Why a package, or a directory unpacked from one, was not written. Nothing
// is left under the name asked for when writing fails.
struct ZEM_PACKAGE_API WriteFailure {
  enum class Kind : std::uint8_t {
    // A read of the package would refuse it: `failure` is what that read
    // reports, in its words and at its place.
    invalid_package,
    // The package cannot hold what was given: a list or blob larger than
    // the file format stores, or a compression level it does not offer.
    // `place` names the element, `message` says what.
    unstorable,
    // A file could not be read or written: `path`, and `message` (the
    // system's text, `os_error` its number; or what is wrong with it).
    file,
    // A manifest does not describe a package: `path` is the manifest,
    // `place` the value in it ("tiles[3].segments[1].blob"), `message` what
    // is wrong with it ("no blob 17").
    manifest,
  };

  Kind kind = Kind::file;
  ReadFailure failure;
  std::string path;
  std::string place;
  std::string message;
  int os_error = 0;

  [[nodiscard]] static WriteFailure invalid_package(ReadFailure failure);
  [[nodiscard]] static WriteFailure unstorable(std::string place, std::string message);
  [[nodiscard]] static WriteFailure file_error(std::string path, int os_error);
  [[nodiscard]] static WriteFailure file_problem(std::string path, std::string message);
  [[nodiscard]] static WriteFailure manifest_error(std::string path, std::string place,
                                                   std::string message);

  // One line: "invalid package: validation failed at tiles[1]:
  // Invalid(\"duplicate physical tile 7\")", "tiles[0].segments: too many
  // ...", "out.zpkg: Permission denied (os error 13)", "dir/manifest.json:
  // tiles[3].segments[1].blob: no blob 17".
  [[nodiscard]] std::string to_string() const;

  friend bool operator==(const WriteFailure&, const WriteFailure&) = default;
};

template <class T>
using WriteResult = std::expected<T, WriteFailure>;

}  // namespace zem
