#include "zem_package/write_failure.hpp"

#include <fmt/format.h>

#include "zem_package/io.hpp"

namespace zem {

WriteFailure WriteFailure::invalid_package(ReadFailure failure) {
  WriteFailure result;
  result.kind = Kind::invalid_package;
  result.failure = std::move(failure);
  return result;
}

WriteFailure WriteFailure::unstorable(std::string place, std::string message) {
  WriteFailure result;
  result.kind = Kind::unstorable;
  result.place = std::move(place);
  result.message = std::move(message);
  return result;
}

WriteFailure WriteFailure::file_error(std::string path, int os_error) {
  WriteFailure result = file_problem(std::move(path), io::os_error_text(os_error));
  result.os_error = os_error;
  return result;
}

WriteFailure WriteFailure::file_problem(std::string path, std::string message) {
  WriteFailure result;
  result.kind = Kind::file;
  result.path = std::move(path);
  result.message = std::move(message);
  return result;
}

WriteFailure WriteFailure::manifest_error(std::string path, std::string place,
                                          std::string message) {
  WriteFailure result;
  result.kind = Kind::manifest;
  result.path = std::move(path);
  result.place = std::move(place);
  result.message = std::move(message);
  return result;
}

std::string WriteFailure::to_string() const {
  const auto placed = [this](std::string_view prefix) {
    std::string line(prefix);
    if (!place.empty()) line += (line.empty() ? "" : ": ") + place;
    return line.empty() ? message : line + ": " + message;
  };
  switch (kind) {
    case Kind::invalid_package: {
      std::string line = fmt::format("invalid package: {} failed", stage_name(failure.stage));
      if (!failure.element.empty()) line += " at " + failure.element.to_string();
      return line + ": " + failure.error.to_string();
    }
    case Kind::unstorable:
      return placed("");
    case Kind::file:
      return path + ": " + message;
    case Kind::manifest:
      return placed(path);
  }
  return message;
}

}  // namespace zem
