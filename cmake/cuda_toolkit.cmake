# The GPU backend is built with nvcc whenever a CUDA toolkit is found; otherwise the program
# builds without it and a plain C++ stand-in reports the device as unavailable.
option(PELORIN_ENABLE_CUDA "Build the CUDA backend when a CUDA toolkit is found" ON)
# Compute capability 8.6 machine code plus its PTX, which newer drivers compile for later
# generations. Add entries (for example "75-real;86-real;89-real;90-real;90-virtual") to
# ship machine code for more GPU generations.
set(PELORIN_CUDA_ARCHITECTURES "86-real;86-virtual" CACHE STRING "CUDA architectures of the cuda_backend module")

set(PELORIN_HAVE_CUDA OFF)
if(PELORIN_ENABLE_CUDA)
  if(NOT CMAKE_CUDA_COMPILER AND NOT DEFINED ENV{CUDACXX} AND EXISTS /usr/local/cuda/bin/nvcc)
    set(CMAKE_CUDA_COMPILER /usr/local/cuda/bin/nvcc CACHE FILEPATH "CUDA compiler")
  endif()
  if(NOT DEFINED CMAKE_CUDA_ARCHITECTURES)
    set(CMAKE_CUDA_ARCHITECTURES ${PELORIN_CUDA_ARCHITECTURES})
  endif()
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
endif()
if(PELORIN_HAVE_CUDA)
  message(STATUS "CUDA backend: nvcc ${CMAKE_CUDA_COMPILER_VERSION}, architectures ${PELORIN_CUDA_ARCHITECTURES}")
else()
  message(STATUS "CUDA backend: not built (no CUDA toolkit); cuda- backends report no device")
endif()
