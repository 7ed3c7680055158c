#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "toolkit/tool_error.hpp"
#include "zem_package/read_options.hpp"

namespace zem::toolkit {

// The subcommands of zem-package. Each writes its result on standard output
// (and, for `extract`, a note on standard error) and returns the exit status;
// a failure to do its job comes back as a Failure, printed by `main`.

struct InspectOptions {
  std::string package;
  bool json = false;
};

struct CheckOptions {
  std::string package;
};

// Exactly one of `tile` and `blob` is set.
struct ExtractOptions {
  std::string package;
  std::optional<std::string> tile;
  std::optional<std::string> blob;    // a digest or an unambiguous prefix of one
  std::optional<std::string> output;  // standard output when unset or "-"
};

struct DiffOptions {
  std::string package;
  std::string tile;
  std::string record;
  std::size_t max = 20;
};

// Each reads its package with `read` (the threads that check its blobs).
[[nodiscard]] Outcome<ExitStatus> run_inspect(const InspectOptions& options,
                                              const ReadOptions& read);
[[nodiscard]] Outcome<ExitStatus> run_check(const CheckOptions& options, const ReadOptions& read);
[[nodiscard]] Outcome<ExitStatus> run_extract(const ExtractOptions& options,
                                              const ReadOptions& read);
[[nodiscard]] Outcome<ExitStatus> run_diff(const DiffOptions& options, const ReadOptions& read);

}  // namespace zem::toolkit
