# Compiler cache: a fresh clone in any folder reuses the objects of an earlier build. Paths
# under the source root are hashed relative to it, and the build folder is left out of the
# hash, so two checkouts of the same commit share every object. The cache lives in the
# user's home (ccache's default) and is sized for the four presets' objects.
option(PELORIN_CCACHE "Compile through ccache when it is installed" ON)
find_program(PELORIN_CCACHE_PROGRAM ccache)
if(PELORIN_CCACHE AND PELORIN_CCACHE_PROGRAM)
  set(pelorin_ccache_launcher
      ${CMAKE_COMMAND} -E env
      CCACHE_BASEDIR=${PROJECT_SOURCE_DIR} CCACHE_NOHASHDIR=true CCACHE_MAXSIZE=20G
      ${PELORIN_CCACHE_PROGRAM})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${pelorin_ccache_launcher})
  set(CMAKE_CUDA_COMPILER_LAUNCHER ${pelorin_ccache_launcher})
endif()
