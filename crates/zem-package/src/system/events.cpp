#include "zem_package/events.hpp"

namespace zem::events {

namespace detail {
std::atomic<Receiver*> receiver{nullptr};
}

Receiver* set_receiver(Receiver* receiver) noexcept {
  return detail::receiver.exchange(receiver, std::memory_order_acq_rel);
}

void emit(Level level, std::string_view message, std::initializer_list<Field> fields,
          std::source_location location) {
  Receiver* r = detail::receiver.load(std::memory_order_acquire);
  if (r == nullptr || !r->enabled(level, target)) {
    return;
  }
  r->receive(Event{level, target, location, message,
                   std::span<const Field>(fields.begin(), fields.size())});
}

}  // namespace zem::events
