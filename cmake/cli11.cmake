# CLI11 (header-only) as the target CLI11::CLI11: the installed package when there is one
# for the target; in a cross build, the host's copy of the headers, copied into the build
# tree so that no other host header can reach the target's compiler.
find_package(CLI11 CONFIG QUIET)
if(NOT TARGET CLI11::CLI11)
  find_path(PELORIN_CLI11_HOST_INCLUDE CLI/CLI.hpp PATHS /usr/include /usr/local/include NO_CMAKE_FIND_ROOT_PATH)
  if(NOT CMAKE_CROSSCOMPILING OR NOT PELORIN_CLI11_HOST_INCLUDE)
    message(FATAL_ERROR "CLI11 not found: install it (Debian: libcli11-dev; vcpkg: cli11) or point CMAKE_PREFIX_PATH at it")
  endif()
  file(COPY ${PELORIN_CLI11_HOST_INCLUDE}/CLI DESTINATION ${CMAKE_BINARY_DIR}/host-headers)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${CMAKE_BINARY_DIR}/host-headers)
endif()
