# Compile options for sources built for one instruction set alone. Such code is only ever
# entered after a run-time processor check, so the rest of the program stays plain x86-64.
if(MSVC)
  set(PELORIN_AVX2_FLAGS /arch:AVX2)
  set(PELORIN_AVX512_FLAGS /arch:AVX512)
else()
  set(PELORIN_AVX2_FLAGS -mavx2 -mbmi -mbmi2)
  # gcc 12 warns about its own AVX-512 headers (uninitialised __Y in the intrinsics).
  set(PELORIN_AVX512_FLAGS -mavx512f -mavx512dq -mavx512vl -mavx2 -mbmi -mbmi2 -Wno-uninitialized -Wno-maybe-uninitialized)
endif()

function(pelorin_isa_sources isa)
  foreach(src IN LISTS ARGN)
    set_source_files_properties(${src} PROPERTIES COMPILE_OPTIONS "${PELORIN_${isa}_FLAGS}")
  endforeach()
endfunction()
