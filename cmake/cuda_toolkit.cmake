# The GPU backend is built with nvcc when PELORIN_CUDA allows it and a CUDA toolkit is found
# (AUTO), or required (ON); otherwise a plain C++ stand-in reports the device as unavailable.
# Compute capability 8.6 machine code plus its PTX, which newer drivers compile for later
# generations. Add entries (for example "75-real;86-real;89-real;90-real;90-virtual") to
# ship machine code for more GPU generations.
set(PELORIN_CUDA_ARCHITECTURES "86-real;86-virtual" CACHE STRING "CUDA architectures of the cuda_backend module")

set(PELORIN_HAVE_CUDA OFF)
if(NOT PELORIN_CUDA STREQUAL "OFF")
  if(NOT CMAKE_CUDA_COMPILER AND NOT DEFINED ENV{CUDACXX} AND NOT CMAKE_CROSSCOMPILING
     AND EXISTS /usr/local/cuda/bin/nvcc)
    set(CMAKE_CUDA_COMPILER /usr/local/cuda/bin/nvcc CACHE FILEPATH "CUDA compiler")
  endif()
  if(NOT DEFINED CMAKE_CUDA_ARCHITECTURES)
    set(CMAKE_CUDA_ARCHITECTURES ${PELORIN_CUDA_ARCHITECTURES})
  endif()
  # nvcc compiles host code with the project's own C++ compiler.
  if(NOT DEFINED CMAKE_CUDA_HOST_COMPILER AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set(CMAKE_CUDA_HOST_COMPILER ${CMAKE_CXX_COMPILER} CACHE FILEPATH "Host compiler of nvcc")
  endif()
  include(CheckLanguage)
  check_language(CUDA)
  if(CMAKE_CUDA_COMPILER)
    enable_language(CUDA)
    # CMake before 3.26 has no C++20 dialect flag for nvcc; nvcc 12 and later take -std=c++20.
    if(NOT DEFINED CMAKE_CUDA20_STANDARD_COMPILE_OPTION AND CMAKE_CUDA_COMPILER_VERSION VERSION_GREATER_EQUAL 12.0)
      set(CMAKE_CUDA20_STANDARD_COMPILE_OPTION "-std=c++20")
      set(CMAKE_CUDA20_EXTENSION_COMPILE_OPTION "-std=c++20")
    endif()
    find_package(CUDAToolkit)
    if(CUDAToolkit_FOUND)
      set(PELORIN_HAVE_CUDA ON)
    endif()
  endif()
  if(PELORIN_CUDA STREQUAL "ON" AND NOT PELORIN_HAVE_CUDA)
    message(FATAL_ERROR "PELORIN_CUDA is ON but no CUDA toolkit was found")
  endif()
endif()
if(PELORIN_HAVE_CUDA)
  message(STATUS "GPU backend: nvcc ${CMAKE_CUDA_COMPILER_VERSION}, architectures ${PELORIN_CUDA_ARCHITECTURES}")
else()
  message(STATUS "GPU backend: not built; the cuda- backends report \"CUDA device unavailable\"")
endif()
