#pragma once

#include <new>
#include <string>
#include <type_traits>

#include <capnp/blob.h>
#include <fmt/format.h>
#include <kj/exception.h>

#include "zem_package/utf8.hpp"
#include "zem_package/package_error.hpp"

namespace zem {

// The library's description of an error can quote a value it found in the
// message, NUL and control bytes included: those are shown escaped.
inline std::string printable(kj::StringPtr description) {
  std::string out;
  out.reserve(description.size());
  for (const char c : description) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      out += fmt::format("\\x{:02x}", byte);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// The library's error, with its own description (not its file, line or
// trace).
[[nodiscard]] inline PackageError capnp_error(const kj::Exception& e) {
  std::string kind;
  switch (e.getType()) {
    case kj::Exception::Type::FAILED:
      kind = "failed";
      break;
    case kj::Exception::Type::OVERLOADED:
      kind = "overloaded";
      break;
    case kj::Exception::Type::DISCONNECTED:
      kind = "disconnected";
      break;
    case kj::Exception::Type::UNIMPLEMENTED:
      kind = "unimplemented";
      break;
  }
  return PackageError::capnp(std::move(kind), printable(e.getDescription()));
}

// What a read reports when memory runs out.
[[nodiscard]] inline PackageError out_of_memory_error() {
  return PackageError::io("OutOfMemory", "memory allocation failed");
}

// Cap'n Proto readers are lazy: any getter may throw when it follows a
// malformed pointer. Every traversal of a message runs inside this boundary,
// which turns the exception into a `Capnp` error.
template <class F>
[[nodiscard]] auto capnp_boundary(F&& traverse) -> std::invoke_result_t<F> {
  try {
    return traverse();
  } catch (const kj::Exception& e) {
    return std::unexpected(capnp_error(e));
  } catch (const std::bad_alloc&) {
    return std::unexpected(out_of_memory_error());
  }
}

// An owned copy of a text field, which must be UTF-8.
[[nodiscard]] inline Result<std::string> read_text(capnp::Text::Reader text) {
  const auto bytes = text.asBytes();
  if (auto fault = check_utf8({bytes.begin(), bytes.size()})) {
    return std::unexpected(PackageError::utf8(fault->valid_up_to, fault->error_len));
  }
  return std::string(text.cStr(), text.size());
}

}  // namespace zem
