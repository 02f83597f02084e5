# GoogleTest for the test programs: the installed package, or, when PELORIN_GTEST_SOURCE_DIR
# names a GoogleTest source tree, built here from it (the cross build: Debian ships
# GoogleTest for the host only, and its sources in /usr/src/googletest).
set(PELORIN_GTEST_SOURCE_DIR "" CACHE PATH "GoogleTest source tree to build instead of using an installed GoogleTest")

if(PELORIN_GTEST_SOURCE_DIR)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${PELORIN_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest REQUIRED)
endif()
