#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <source_location>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "zem_package/api.hpp"

namespace zem::events {

// Diagnostic events: structured records handed to one process-wide receiver.
// With no receiver installed an event costs one branch at its call site.

enum class Level : std::uint8_t { error, warn, info, debug, trace };

inline constexpr std::string_view target = "zem_package";

using Value = std::variant<std::uint64_t, std::string>;

struct Field {
  std::string_view name;
  Value value;
};

struct Event {
  Level level;
  std::string_view target;
  std::source_location location;
  std::string_view message;
  std::span<const Field> fields;
};

class ZEM_PACKAGE_API Receiver {
 public:
  virtual ~Receiver() = default;
  [[nodiscard]] virtual bool enabled(Level level, std::string_view target) const = 0;
  virtual void receive(const Event& event) = 0;
};

namespace detail {
ZEM_PACKAGE_API extern std::atomic<Receiver*> receiver;
}

// Installs `receiver` (or none, with nullptr) and returns the one it replaces.
// The receiver must outlive its installation.
ZEM_PACKAGE_API Receiver* set_receiver(Receiver* receiver) noexcept;

// True when an event of `level` from this library would reach a receiver.
[[nodiscard]] inline bool enabled(Level level) noexcept {
  Receiver* r = detail::receiver.load(std::memory_order_acquire);
  return r != nullptr && r->enabled(level, target);
}

// Hands one event to the receiver, if any. Callers check `enabled` first so
// that field values are only built when someone listens.
ZEM_PACKAGE_API void emit(Level level, std::string_view message,
                          std::initializer_list<Field> fields = {},
                          std::source_location location = std::source_location::current());

}  // namespace zem::events
