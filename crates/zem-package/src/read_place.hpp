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
    identity_.name = {};
    depth_ = 0;
    for (const Step& step : steps) {
      if (depth_ == steps_.size()) break;
      steps_[depth_++] = step;
    }
  }

  // What identifies the element being read, once it is known (a tile's
  // number, a binding's name), until the place changes. A failure within the
  // element names it. The place keeps a copy: a failure is often placed
  // after the element's converter has returned.
  void identify(std::string_view name, std::string_view value) {
    identity_.name = name;
    identity_.text.assign(value);
    identity_.numeric = false;
  }
  void identify(std::string_view name, std::uint64_t value) noexcept {
    identity_.name = name;
    identity_.number = value;
    identity_.numeric = true;
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
    ReadFailure failure{std::move(error), stage_, element(), {}};
    if (!identity_.name.empty()) {
      failure.details.push_back(
          {std::string(identity_.name),
           identity_.numeric ? fmt::format("{}", identity_.number) : identity_.text});
    }
    return failure;
  }

 private:
  struct Identity {
    std::string_view name;  // empty when nothing identifies the element yet
    std::string text;
    std::uint64_t number = 0;
    bool numeric = false;
  };

  ReadStage stage_ = ReadStage::framing;
  Identity identity_;
  std::array<Step, 3> steps_{};
  std::size_t depth_ = 0;
};

}  // namespace zem
