# Build conventions shared by every part of the tree.

add_compile_options(-Wall -Wextra -Wpedantic)

if(CALMORA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(CALMORA_FUZZ)
  # Coverage for the fuzzers in every library they link.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Adds every immediate subdirectory of the current source folder that holds a CMakeLists.txt, so that
# a new area of the tree needs no edit of its parent.
function(calmora_add_subdirectories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# calmora_add_test(NAME name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s])
# One GoogleTest executable, registered as one CTest test.
function(calmora_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "CALMORA_BIN=${CMAKE_BINARY_DIR}/bin;CALMORA_SOURCE=${CMAKE_SOURCE_DIR};CALMORA_REGISTRY=${CMAKE_BINARY_DIR}/test-registry")
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# calmora_add_fuzzer(NAME name SOURCES ... LIBS ...)
# A libFuzzer target, built only with CALMORA_FUZZ; `make sanitize` runs each for a bounded time.
function(calmora_add_fuzzer)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT CALMORA_FUZZ)
    return()
  endif()
  add_executable(${F_NAME} ${F_SOURCES})
  set_target_properties(${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
endfunction()

# calmora_add_bench(NAME name SOURCES ... LIBS ...)
function(calmora_add_bench)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${B_NAME} ${B_SOURCES})
  set_target_properties(${B_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS})
endfunction()
