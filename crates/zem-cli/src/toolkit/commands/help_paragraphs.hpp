#pragma once

// Paragraphs that the help of several subcommands shares.

#include <string_view>

namespace zem::toolkit {

inline constexpr std::string_view standard_input_help =
    "A PACKAGE of - is standard input, read into memory as it arrives (never from\n"
    "a terminal, and only once). Name a file called - as ./-; after --, every\n"
    "argument is an operand, even one that starts with -.\n";

inline constexpr std::string_view valid_package_help =
    "Only a valid package is read: one that fails a check is a failure. TILE is\n"
    "written in decimal, with an optional + and leading zeros, or in hexadecimal\n"
    "after 0x (0x1f).\n";

inline constexpr std::string_view record_help =
    "A RECORD is a device record file: raw little-endian 32-bit words, the words\n"
    "of the tile's patched template in order.\n";

inline constexpr std::string_view threads_help =
    "ZEM_THREADS sets how many threads check the package's blobs: 1 to 256, in\n"
    "decimal with an optional + and leading zeros; unset or empty, the processors\n"
    "this process may run on, at most 16.\n";

}  // namespace zem::toolkit
