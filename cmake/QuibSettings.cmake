# Warnings for the project's own code, and the sanitizers for everything built.
add_library(quib_warnings INTERFACE)
target_compile_options(quib_warnings INTERFACE -Wall -Wextra -Werror)

if(QUIB_SANITIZE)
  list(JOIN QUIB_SANITIZE "," _quib_sanitizers)
  add_compile_options(-fsanitize=${_quib_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_quib_sanitizers})
endif()

# Registers a GoogleTest executable with CTest. LABELS names the test's group
# ("unit" by default; "concurrency" for the ThreadSanitizer configuration, which runs only those).
function(quib_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} quib_warnings GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  # Where the built library lies, for tests that load it as a client does.
  target_compile_definitions(${name} PRIVATE QUIB_LIBRARY_PATH="$<TARGET_FILE:quibvoicerec>")
  add_dependencies(${name} quibvoicerec)
  set(_label unit)
  if(ARG_LABELS)
    set(_label ${ARG_LABELS})
  endif()
  # Tests never touch the user's registry: each process gets an empty one in
  # memory unless the test names a file itself.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS ${_label} ENVIRONMENT "QUIB_REGISTRY=:memory:")
endfunction()

include(GoogleTest)
