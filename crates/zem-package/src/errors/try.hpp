#pragma once

#include <expected>
#include <utility>

// Evaluates `expr` (a std::expected); returns its error from the enclosing
// function when it holds one. g++ 12's std::expected has no and_then, so the
// library chains fallible steps with early returns through this one macro.
#define ZEM_TRY(expr)                                             \
  do {                                                            \
    if (auto zem_try_result_ = (expr); !zem_try_result_) {        \
      return std::unexpected(std::move(zem_try_result_).error()); \
    }                                                             \
  } while (false)
