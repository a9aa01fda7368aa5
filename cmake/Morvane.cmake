# One static library per folder. Sources are every .cpp of the folder, so a
# new file needs no edit here.
function(morvane_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;INCLUDE" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT _srcs)
    # A folder whose code has not arrived yet.
    set(_srcs ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${_srcs} "")
  endif()
  add_library(${name} STATIC ${_srcs})
  set(_scope PUBLIC)
  if(ARG_INCLUDE)
    target_include_directories(${name} ${_scope} ${ARG_INCLUDE})
  endif()
  if(ARG_DEPS)
    target_link_libraries(${name} ${_scope} ${ARG_DEPS})
  endif()
endfunction()

# One GoogleTest program per test folder, holding every .cpp in it.
# Tests whose name contains "Concurrency" are labelled for the ThreadSanitizer run.
# POSIX_ONLY and WIN32_ONLY name files of the folder that test one system's
# own facility and are left out of the other system's build.
function(morvane_test_folder name)
  cmake_parse_arguments(ARG "" "" "DEPS;PROPERTIES;POSIX_ONLY;WIN32_ONLY" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(WIN32)
    set(_other ${ARG_POSIX_ONLY})
  else()
    set(_other ${ARG_WIN32_ONLY})
  endif()
  foreach(_file ${_other})
    list(REMOVE_ITEM _srcs ${CMAKE_CURRENT_SOURCE_DIR}/${_file})
  endforeach()
  if(NOT _srcs)
    return()
  endif()
  add_executable(${name} ${_srcs})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} morvane_testsupport GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  # A cross-built test program runs only under its emulator, in the Wine
  # prefix the test run prepares: list its tests when ctest runs, not while
  # building.
  set(_discovery)
  if(CMAKE_CROSSCOMPILING)
    set(_discovery DISCOVERY_MODE PRE_TEST)
  endif()
  gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} ${_discovery}
                       DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 ${ARG_PROPERTIES})
endfunction()
