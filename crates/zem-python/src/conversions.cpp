#include "conversions.hpp"

#include <fmt/format.h>

#include <cstring>

#include "zem_package/read_options.hpp"

namespace zem::python {

py::str text(std::string_view value) {
  PyObject* decoded =
      PyUnicode_DecodeUTF8(value.data(), static_cast<Py_ssize_t>(value.size()), "surrogateescape");
  if (decoded == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(decoded);
}

py::object from_json(const nlohmann::ordered_json& json) {
  switch (json.type()) {
    case nlohmann::ordered_json::value_t::null:
    case nlohmann::ordered_json::value_t::discarded:
      return py::none();
    case nlohmann::ordered_json::value_t::boolean:
      return py::bool_(json.get<bool>());
    case nlohmann::ordered_json::value_t::number_integer:
      return py::int_(json.get<std::int64_t>());
    case nlohmann::ordered_json::value_t::number_unsigned:
      return py::int_(json.get<std::uint64_t>());
    case nlohmann::ordered_json::value_t::number_float:
      return py::float_(json.get<double>());
    case nlohmann::ordered_json::value_t::string:
      return text(json.get_ref<const std::string&>());
    case nlohmann::ordered_json::value_t::binary:
      return to_bytes(json.get_binary());
    case nlohmann::ordered_json::value_t::array: {
      py::list list;
      for (const auto& item : json) list.append(from_json(item));
      return list;
    }
    case nlohmann::ordered_json::value_t::object: {
      py::dict dict;
      for (const auto& [key, value] : json.items()) dict[text(key)] = from_json(value);
      return dict;
    }
  }
  return py::none();
}

py::bytes to_bytes(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

py::dict details_dict(const std::vector<FailureDetail>& details) {
  py::dict dict;
  for (const FailureDetail& detail : details) {
    struct Value {
      py::object operator()(const detail_value::Number& v) const { return py::int_(v.value); }
      py::object operator()(const detail_value::Address& v) const { return py::int_(v.value); }
      py::object operator()(const detail_value::Text& v) const { return text(v.value); }
      py::object operator()(const detail_value::Compression& v) const {
        return py::str(detail_text(v));
      }
      py::object operator()(const detail_value::Digest& v) const { return to_bytes(v.bytes); }
      py::object operator()(const ElementPath& v) const { return py::str(v.to_string()); }
    };
    dict[text(detail.name)] = std::visit(Value{}, detail.value);
  }
  return dict;
}

std::uint32_t tile_number(const py::handle& tile) {
  if (!py::isinstance<py::int_>(tile) || py::isinstance<py::bool_>(tile)) {
    throw py::type_error(
        fmt::format("a tile number must be an int, not {}",
                    py::str(py::type::handle_of(tile).attr("__name__")).cast<std::string>()));
  }
  const py::object value = py::reinterpret_borrow<py::object>(tile);
  if (value < py::int_(0) || value > py::int_(0xffffffffULL)) {
    throw py::value_error(fmt::format("a tile number is from 0 to 4294967295, not {}",
                                      py::repr(value).cast<std::string>()));
  }
  return value.cast<std::uint32_t>();
}

std::vector<std::uint8_t> bytes_like(const py::handle& object, const char* what) {
  if (!PyObject_CheckBuffer(object.ptr())) {
    throw py::type_error(
        fmt::format("{} must be a bytes-like object, not {}", what,
                    py::str(py::type::handle_of(object).attr("__name__")).cast<std::string>()));
  }
  Py_buffer view;
  if (PyObject_GetBuffer(object.ptr(), &view, PyBUF_C_CONTIGUOUS) != 0) {
    throw py::error_already_set();
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(view.len));
  if (!bytes.empty()) std::memcpy(bytes.data(), view.buf, bytes.size());
  PyBuffer_Release(&view);
  return bytes;
}

unsigned threads_of(const py::object& threads) {
  constexpr long long thread_limit = 256;
  if (threads.is_none()) return available_threads();
  if (!py::isinstance<py::int_>(threads) || py::isinstance<py::bool_>(threads)) {
    throw py::type_error("threads must be an int or None");
  }
  const auto value = threads.cast<long long>();
  if (value < 1 || value > thread_limit) {
    throw py::value_error(fmt::format("threads is from 1 to {}, not {}", thread_limit, value));
  }
  return static_cast<unsigned>(value);
}

}  // namespace zem::python
