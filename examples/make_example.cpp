// Writes the bundled example: a package whose tile 7 holds a template setup,
// and the device record that matches it.
//
//   zem-make-example DIRECTORY   writes DIRECTORY/example.zpkg and example.record

#include <cstdio>
#include <exception>
#include <string>

#include "package_builder.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: zem-make-example DIRECTORY\n", stderr);
    return 2;
  }
  try {
    const std::string directory = argv[1];
    namespace t = zem::testing;
    t::write_file(directory + "/example.zpkg",
                  t::build_package(t::example_application(), t::example_options()));
    t::write_file(directory + "/example.record", t::words_to_bytes(t::make_template_tile().record));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zem-make-example: %s\n", e.what());
    return 1;
  }
  return 0;
}
