#pragma once

#include <utility>

namespace zem {

// The model, an Application and the writer's manifest each hold a package's
// tiles, its three binding lists, the host exchange, the entry points and the
// device configuration writes under the same names. These copy or move them
// from one to another, so that a member added to all three is carried over in
// one place.
template <class From, class To>
void copy_structure(const From& from, To& to) {
  to.tiles = from.tiles;
  to.bindings_1 = from.bindings_1;
  to.bindings_2 = from.bindings_2;
  to.bindings_3 = from.bindings_3;
  to.host_exchange = from.host_exchange;
  to.entry_points = from.entry_points;
  to.device_config_writes = from.device_config_writes;
}

template <class From, class To>
void move_structure(From& from, To& to) {
  to.tiles = std::move(from.tiles);
  to.bindings_1 = std::move(from.bindings_1);
  to.bindings_2 = std::move(from.bindings_2);
  to.bindings_3 = std::move(from.bindings_3);
  to.host_exchange = std::move(from.host_exchange);
  to.entry_points = std::move(from.entry_points);
  to.device_config_writes = std::move(from.device_config_writes);
}

}  // namespace zem
