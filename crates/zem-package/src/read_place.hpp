#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "zem_package/read_failure.hpp"

namespace zem {

// Where a read stands in the message: the stage, and the path of the element
// it is reading, such as `bindings2[5].label`. The reader sets it before it
// follows each pointer, so that a failure, whether thrown by the message's
// readers or returned, can say where it happened. It holds names and
// numbers only; the text is made for a failure.
class ReadPlace {
 public:
  static constexpr std::size_t no_index = SIZE_MAX;

  // One step of a path: a field, or an element of a list field.
  struct Step {
    std::string_view name;
    std::size_t index = no_index;
  };

  void set(ReadStage stage, std::initializer_list<Step> steps) noexcept {
    stage_ = stage;
    depth_ = 0;
    for (const Step& step : steps) {
      if (depth_ == steps_.size()) break;
      steps_[depth_++] = step;
    }
  }

  [[nodiscard]] ReadStage stage() const noexcept { return stage_; }

  // "tiles[3].segments", "hostExchange.calls[2].name".
  [[nodiscard]] std::string element() const {
    std::string text;
    for (std::size_t i = 0; i < depth_; ++i) {
      if (i > 0) text += '.';
      text += steps_[i].name;
      if (steps_[i].index != no_index) text += fmt::format("[{}]", steps_[i].index);
    }
    return text;
  }

  [[nodiscard]] ReadFailure failure(PackageError error) const {
    return ReadFailure{std::move(error), stage_, element(), {}};
  }

 private:
  ReadStage stage_ = ReadStage::framing;
  std::array<Step, 3> steps_{};
  std::size_t depth_ = 0;
};

}  // namespace zem
