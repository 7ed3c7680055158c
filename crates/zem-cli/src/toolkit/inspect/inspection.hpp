#pragma once

#include <string>
#include <vector>

#include "toolkit/package/check_report.hpp"
#include "toolkit/package/package_notes.hpp"
#include "zem_package/package.hpp"

namespace zem::toolkit {

// Everything `inspect` shows about one package.
struct Inspection {
  std::string path;
  // The package as surveyed, when its framing and header could be read: the
  // parts read before a failure and those read past it are shown.
  const Package* package = nullptr;
  CheckReport check;
  std::vector<Note> notes;
};

}  // namespace zem::toolkit
