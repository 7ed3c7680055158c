#pragma once

// What `unpack`, `pack` and `repack` say: a write's failure as one line with
// its hints, and the lines about what was written.

#include <string>
#include <string_view>

#include "toolkit/tool_error.hpp"
#include "zem_package/write_failure.hpp"

namespace zem::toolkit {

// What was being read when a write failed: a package file, or a manifest
// whose package would be invalid.
enum class WriteInput : std::uint8_t { package, manifest };

// The failure as the tool says it:
//   "p.zpkg: invalid package: validation failed at tiles[1] ...", with what
//     the file looks like when it is no package at all;
//   "dir/manifest.json: refusing to write an invalid package: ...";
//   "dir/manifest.json: tiles[3].segments[1].blob: no blob 17";
//   "out.zpkg: exists; give --force to overwrite it";
//   "dir/manifest.json: blobs[1]: blobs/1.bin holds 536870912 bytes, more than
//     one blob stores (536870911)".
[[nodiscard]] Failure write_failure(const WriteFailure& failure, WriteInput input,
                                    const std::string& input_path);

}  // namespace zem::toolkit
