#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "zem_package/element_path.hpp"
#include "zem_package/read_failure.hpp"

namespace zem {

// Where a read stands in the message: the stage, and the path of the element
// it is reading, such as `bindings2[5].label`. The reader sets it before it
// follows each pointer, so that a failure, whether thrown by the message's
// readers or returned, can say where it happened.
class ReadPlace {
 public:
  void set(ReadStage stage, ElementPath element) noexcept {
    stage_ = stage;
    element_ = element;
    identity_.name = {};
  }

  // What identifies the element being read, once it is known (a tile's
  // number, a binding's name), until the place changes. A failure within the
  // element names it. The place keeps a copy: a failure is often placed
  // after the element's converter has returned.
  void identify(std::string_view name, std::string_view value) {
    identity_.name = name;
    identity_.value = detail_value::Text{std::string(value)};
  }
  void identify(std::string_view name, std::uint64_t value) {
    identity_.name = name;
    identity_.value = detail_value::Number{value};
  }

  [[nodiscard]] ReadStage stage() const noexcept { return stage_; }
  [[nodiscard]] const ElementPath& element() const noexcept { return element_; }

  [[nodiscard]] ReadFailure failure(PackageError error) const {
    ReadFailure failure{std::move(error), stage_, element_, {}};
    if (!identity_.name.empty()) {
      failure.details.push_back({std::string(identity_.name), identity_.value});
    }
    return failure;
  }

 private:
  struct Identity {
    std::string_view name;  // empty when nothing identifies the element yet
    DetailValue value;
  };

  ReadStage stage_ = ReadStage::framing;
  ElementPath element_;
  Identity identity_;
};

}  // namespace zem
