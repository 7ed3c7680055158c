#pragma once

// Filling the hand-written frame of a generated file (a man page, a shell's
// completion script) with the text made from the table of subcommands.

#include <span>
#include <string>
#include <string_view>

#include "toolkit/tool_error.hpp"

namespace zem::toolkit {

// Text for the placeholder @NAME@ of a frame.
struct Placeholder {
  std::string_view name;
  std::string text;
};

// `frame` with each placeholder replaced by its text. A placeholder that the
// frame lacks, or that it holds more than once, is a failure, so that a frame
// and its generator cannot drift apart unnoticed.
[[nodiscard]] Outcome<std::string> fill_frame(std::string_view frame,
                                              std::span<const Placeholder> placeholders);

}  // namespace zem::toolkit
