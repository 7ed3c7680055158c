# What is made from zem-package's table of subcommands at build time, as the
# help is: its man page and its completion for bash, zsh and fish. Each is
# a hand-written frame (man/, completion/) that zem-make-docs fills.

add_library(zem_toolkit_docs STATIC
  src/toolkit/docs/argument_kinds.cpp
  src/toolkit/docs/frame_filling.cpp
  src/toolkit/docs/man_page.cpp
  src/toolkit/docs/completion_names.cpp
  src/toolkit/docs/bash_completion.cpp
  src/toolkit/docs/zsh_completion.cpp
  src/toolkit/docs/fish_completion.cpp)
target_link_libraries(zem_toolkit_docs PUBLIC zem_toolkit PRIVATE zem_warnings)

add_executable(zem-make-docs tools/make_docs.cpp)
target_link_libraries(zem-make-docs PRIVATE zem_toolkit_docs zem_warnings)

set(ZEM_DOCS_DIR ${CMAKE_CURRENT_BINARY_DIR}/docs)
file(MAKE_DIRECTORY ${ZEM_DOCS_DIR})
# The prose of each subcommand's section, read whole by the generator.
file(GLOB ZEM_MAN_PROSE CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/man/subcommands/*.roff)
add_custom_command(OUTPUT ${ZEM_DOCS_DIR}/zem-package.1
  COMMAND zem-make-docs man ${CMAKE_CURRENT_SOURCE_DIR}/man/zem-package.1.in
    ${CMAKE_CURRENT_SOURCE_DIR}/man/subcommands ${PROJECT_VERSION} ${ZEM_DOCS_DIR}/zem-package.1
  DEPENDS zem-make-docs man/zem-package.1.in ${ZEM_MAN_PROSE}
  COMMENT "Making the man page of zem-package")
# The verifier has no subcommands: its page is written by hand, and only
# its version is filled in.
configure_file(man/zem-package-template-record.1.in ${ZEM_DOCS_DIR}/zem-package-template-record.1
  @ONLY)

# Each shell's script under the name its completion loader looks for.
set(ZEM_COMPLETION_SCRIPTS "")
foreach(shell_and_name IN ITEMS "bash;zem-package" "zsh;_zem-package" "fish;zem-package.fish")
  list(GET shell_and_name 0 shell)
  list(GET shell_and_name 1 name)
  set(frame completion/zem-package.${shell}.in)
  if(shell STREQUAL "zsh")
    set(frame completion/_zem-package.zsh.in)
  endif()
  add_custom_command(OUTPUT ${ZEM_DOCS_DIR}/${shell}/${name}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ZEM_DOCS_DIR}/${shell}
    COMMAND zem-make-docs ${shell} ${CMAKE_CURRENT_SOURCE_DIR}/${frame} ${ZEM_DOCS_DIR}/${shell}/${name}
    DEPENDS zem-make-docs ${frame}
    COMMENT "Making the ${shell} completion of zem-package")
  list(APPEND ZEM_COMPLETION_SCRIPTS ${ZEM_DOCS_DIR}/${shell}/${name})
endforeach()
add_custom_target(zem_package_docs ALL
  DEPENDS ${ZEM_DOCS_DIR}/zem-package.1 ${ZEM_COMPLETION_SCRIPTS})

include(GNUInstallDirs)
install(FILES ${ZEM_DOCS_DIR}/zem-package.1 ${ZEM_DOCS_DIR}/zem-package-template-record.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${ZEM_DOCS_DIR}/bash/zem-package
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${ZEM_DOCS_DIR}/zsh/_zem-package
  DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
install(FILES ${ZEM_DOCS_DIR}/fish/zem-package.fish
  DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)

if(ZEM_BUILD_TESTS)
  # The completion in the three shells that load it, each given the same
  # command lines by a small driver (completion/testing/); a shell that is
  # not installed is skipped.
  foreach(shell IN ITEMS bash zsh fish)
    string(TOUPPER ${shell} upper)
    find_program(ZEM_${upper} ${shell})
    set(ZEM_${upper}_PATH "${ZEM_${upper}}")
    if(NOT ZEM_${upper})
      set(ZEM_${upper}_PATH "")
    endif()
  endforeach()
  # The man page's generator is tested in process, in the same program.
  add_executable(zem_docs_tests
    src/toolkit/completion/completion_test.cpp src/toolkit/docs/completion_names_test.cpp
    src/toolkit/docs/man_page_test.cpp)
  target_link_libraries(zem_docs_tests PRIVATE
    zem_toolkit_docs zem_cli_testing zem_warnings GTest::gtest_main)
  target_compile_definitions(zem_docs_tests PRIVATE
    ZEM_PACKAGE_TOOL_PATH="$<TARGET_FILE:zem-package>"
    ZEM_COMPLETION_DIR="${ZEM_DOCS_DIR}"
    ZEM_COMPLETION_DRIVERS="${CMAKE_CURRENT_SOURCE_DIR}/completion/testing"
    ZEM_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples"
    ZEM_BASH_PATH="${ZEM_BASH_PATH}" ZEM_ZSH_PATH="${ZEM_ZSH_PATH}" ZEM_FISH_PATH="${ZEM_FISH_PATH}")
  add_dependencies(zem_docs_tests zem-package zem_package_docs)
  gtest_discover_tests(zem_docs_tests DISCOVERY_TIMEOUT 60)

  # The help, the man page and the README's list of subcommands agree.
  add_test(NAME help_man_page_and_readme_agree
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/check_docs_agree.py
      $<TARGET_FILE:zem-package> ${ZEM_DOCS_DIR}/zem-package.1 ${PROJECT_SOURCE_DIR}/README.md
      ${CMAKE_CURRENT_SOURCE_DIR}/src/bin/zem-package.cpp)
  set_tests_properties(help_man_page_and_readme_agree PROPERTIES SKIP_REGULAR_EXPRESSION "skipped: ")
endif()
