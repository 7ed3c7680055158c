#pragma once

// Marks what the library exports. The library is built with hidden
// visibility, so a shared build exports exactly what carries this mark: the
// public API, and nothing of its internals.
#define ZEM_PACKAGE_API __attribute__((visibility("default")))
