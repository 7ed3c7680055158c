// Force-included in clang builds only. Cap'n Proto 0.9's headers compare a
// C string with a kj::StringPtr and leave that comparison to C++20's
// rewritten operators, which clang does not accept for it; these overloads
// give it an exact match.
#pragma once

#include <kj/string.h>

namespace kj {
inline bool operator==(const char* a, const StringPtr& b) { return b == StringPtr(a); }
inline bool operator!=(const char* a, const StringPtr& b) { return !(b == StringPtr(a)); }
}  // namespace kj
