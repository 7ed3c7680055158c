#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/tool_error.hpp"
#include "zem_package/read_options.hpp"

namespace zem::toolkit {

// The subcommands of zem-package. Each writes its result on standard output
// (and, for `extract` and `template -o`, a note on standard error) and
// returns the exit status; a failure to do its job comes back as a Failure,
// printed by `main`. A package argument "-" is standard input where it is
// accepted (`inspect`, `check`, `compare`).

struct InspectOptions {
  std::string package;
  bool json = false;
};

struct CheckOptions {
  std::vector<std::string> packages;  // at least one
  bool json = false;
};

struct CompareOptions {
  std::string first;
  std::string second;
  bool json = false;
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
  bool json = false;
};

struct TemplateOptions {
  std::string package;
  std::optional<std::string> tile;    // every tile's setup when unset
  std::optional<std::string> output;  // the record's bytes, for a tile; "-" is standard output
  bool json = false;
};

// Each reads its packages with `read` (the threads that check its blobs).
[[nodiscard]] Outcome<ExitStatus> run_inspect(const InspectOptions& options,
                                              const ReadOptions& read);
[[nodiscard]] Outcome<ExitStatus> run_check(const CheckOptions& options, const ReadOptions& read);
[[nodiscard]] Outcome<ExitStatus> run_compare(const CompareOptions& options,
                                              const ReadOptions& read);
[[nodiscard]] Outcome<ExitStatus> run_extract(const ExtractOptions& options,
                                              const ReadOptions& read);
[[nodiscard]] Outcome<ExitStatus> run_diff(const DiffOptions& options, const ReadOptions& read);
[[nodiscard]] Outcome<ExitStatus> run_template(const TemplateOptions& options,
                                               const ReadOptions& read);

}  // namespace zem::toolkit
