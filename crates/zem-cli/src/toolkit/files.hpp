#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "toolkit/tool_error.hpp"
#include "zem_package/io.hpp"

namespace zem::toolkit {

// Opens `path` read-only as a regular file (see io::open_regular_file): a
// FIFO or device is refused, and every failure names the path.
[[nodiscard]] Outcome<io::RegularFile> open_input(const std::string& path);

// Refuses an output file that is the input file `input`, which writing
// would destroy before it was read: checked by what the paths name (the same
// file by another path or link too), before anything is read or written.
[[nodiscard]] Outcome<void> refuse_overwriting(const std::optional<std::string>& output,
                                               const std::string& input);

// What writing a file does to a file already at its path.
enum class ExistingFile : std::uint8_t { replace, refuse };

// Writes `bytes` to the file at `path`, created or truncated (or, with
// ExistingFile::refuse, created only: an existing file is left as it is and
// the write fails), or to standard output when `path` is empty or "-".
// Binary data is not written to a terminal: that would garble it and the
// terminal, and is never what was meant.
[[nodiscard]] Outcome<void> write_output(const std::optional<std::string>& path,
                                         std::span<const std::uint8_t> bytes,
                                         ExistingFile existing = ExistingFile::replace);

// Checks, before any work is done, that the file `path` given to `option`
// can be written when the work is done: its directory exists, and, unless
// `force`, no file is there yet. "-" (standard output) always can. So a run
// whose verdict is its exit status never loses it to a late failed write.
[[nodiscard]] Outcome<void> check_output_place(const std::string& path, std::string_view option,
                                               bool force);

// Writes the text `text` (a page) to standard output when `path` is "-", a
// terminal included, or else to the file at `path`: a new one, or one that
// exists only when `force` says so; without it an existing file is refused
// and left as it is.
[[nodiscard]] Outcome<void> write_text_file(const std::string& path, std::string_view text,
                                            bool force);

}  // namespace zem::toolkit
