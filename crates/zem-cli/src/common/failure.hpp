#pragma once

// The one failure type of the tools. A stage or subcommand that cannot do its
// job returns a `Failure`; only `main` prints it and ends the run, so no stage
// prints an error or exits on its own.

#include <expected>
#include <string>
#include <utility>
#include <vector>

namespace zem::cli {

struct Failure {
  std::string message;
  // What may help the user past the failure ("looks like a gzip file:
  // decompress it first"), each said on a line of its own after the message.
  // The verifier's failures have none: its texts are fixed.
  std::vector<std::string> hints{};
};

template <class T>
using Outcome = std::expected<T, Failure>;

}  // namespace zem::cli

#define ZEM_CLI_CONCAT_INNER(a, b) a##b
#define ZEM_CLI_CONCAT(a, b) ZEM_CLI_CONCAT_INNER(a, b)

// Evaluates `expr`, a std::expected. On failure, returns its error from the
// enclosing function (which must return a std::expected whose error it
// converts to); otherwise moves its value into `lhs`, a new variable
// (`auto name`) or an existing one:
//
//   ZEM_ASSIGN_OR_RETURN(auto image, read_image(path));
#define ZEM_ASSIGN_OR_RETURN(lhs, expr) \
  ZEM_ASSIGN_OR_RETURN_IMPL(ZEM_CLI_CONCAT(zem_outcome_, __LINE__), lhs, expr)
#define ZEM_ASSIGN_OR_RETURN_IMPL(outcome, lhs, expr)   \
  auto outcome = (expr);                                \
  if (!outcome) {                                       \
    return std::unexpected(std::move(outcome).error()); \
  }                                                     \
  lhs = std::move(*outcome)

// Evaluates `expr`, a std::expected of a step that gives no value, and
// returns its error from the enclosing function when it holds one.
#define ZEM_RETURN_IF_ERROR(expr)                                  \
  do {                                                             \
    if (auto zem_step_result_ = (expr); !zem_step_result_) {       \
      return std::unexpected(std::move(zem_step_result_).error()); \
    }                                                              \
  } while (false)
