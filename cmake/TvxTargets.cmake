# Helpers that turn the source layout into targets, so that adding a file never needs a
# CMake edit: every .cpp of a subsystem folder goes into its library, every *_test.cpp of
# tests/<folder> becomes one test program, every *_fuzz.cpp of tests/fuzz one fuzz target.

# tvx_library(<folder> <dependencies>...): a static library of the folder's sources,
# an interface library while the folder has none yet.
function(tvx_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${name}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# tvx_tests(<folder> <library>): one GoogleTest program per tests/<folder>/*_test.cpp.
# Helpers shared by the tests of a folder live in tests/<folder>/*_util.cpp.
function(tvx_tests folder library)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*_test.cpp)
  file(GLOB utils CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*_util.cpp)
  foreach(src ${tests})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src} ${utils})
    target_link_libraries(${name} PRIVATE ${library} testsupport GTest::gtest_main GTest::gmock)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
  endforeach()
endfunction()

# tvx_fuzz_targets(): for each tests/fuzz/<name>_fuzz.cpp, a program that replays the
# files of tests/fuzz/corpus/<name>/ through the target (a CTest test in every build),
# and with TVX_FUZZ (a clang build) the libFuzzer program <name>_fuzz itself. Targets may
# check what they produce with the tests' independent decoders (testsupport).
function(tvx_fuzz_targets)
  file(GLOB targets CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/*_fuzz.cpp)
  foreach(src ${targets})
    get_filename_component(stem ${src} NAME_WE)
    string(REGEX REPLACE "_fuzz$" "" name ${stem})
    add_executable(${name}_replay ${src} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/replay_main.cpp)
    target_link_libraries(${name}_replay PRIVATE streams testsupport)
    add_test(NAME fuzz_corpus_${name}
             COMMAND ${name}_replay ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${name})
    if(TVX_FUZZ)
      add_executable(${stem} ${src})
      target_compile_options(${stem} PRIVATE -fsanitize=fuzzer)
      target_link_options(${stem} PRIVATE -fsanitize=fuzzer)
      target_link_libraries(${stem} PRIVATE streams testsupport)
    endif()
  endforeach()
endfunction()
