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

# One GoogleTest program per test folder, holding every .cpp in it and in
# its posix/ or win32/ sub-folder: tests of one system's own behaviour (a
# POSIX stand-in, a Win32 call) are built for that system only.
# Tests whose name contains "Concurrency" are labelled for the ThreadSanitizer run.
function(morvane_test_folder name)
  cmake_parse_arguments(ARG "" "" "DEPS;PROPERTIES" ${ARGN})
  if(WIN32)
    set(_os win32)
  else()
    set(_os posix)
  endif()
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/${_os}/*.cpp)
  if(NOT _srcs)
    return()
  endif()
  add_executable(${name} ${_srcs})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} morvane_testsupport GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
                       DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 ${ARG_PROPERTIES})
endfunction()
