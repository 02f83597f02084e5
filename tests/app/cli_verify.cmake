cmake_policy(SET CMP0054 NEW)
# Runs `pelorin-worker` (through EMULATOR when set) on a table of command lines, `verify`'s
# above all, and checks the exit status and the text on standard output or standard error.
# Each case: expected status | stream (out or err) | expected text (regex) | arguments...
string(REPLACE "." "\\." version "${VERSION}")
set(cases
  "0|out|^pelorin-worker ${version}$|--version"
  "0|out|^\\{\"format\":\"pelorin-result-v2\",\"mode\":\"verify\",\"backend\":\"record-recursive\",\"begin\":\"1\",\"end\":\"101\",\"checked\":\"100\",\"candidates\":\"3\",\"survivors_evaluated\":\"3\",\"steps\":\"257\",\"overflow_starts\":\"0\",\"checksum_sum\":16331734661743614451,\"checksum_xor\":13890576623742591641,\"proof_exclusions\":\"97\",\"frontier_nodes\":\"0\",\"u64_completions\":\"3\",\"u128_completions\":\"0\",\"u256_completions\":\"0\",\"bigint_completions\":\"0\",\"proof_hash\":\"c1ef0c13ddffe84f90e9f8badb88525f82f9bed819a1e9533e40f96ce91e94b9\",\"accounting\":\"per-start\",\"elapsed_seconds\":[0-9.e-]+,\"kernel_seconds\":0,\"transfer_seconds\":0,\"valid\":true,\"message\":\"\"\\}$|verify|--backend|record-recursive|--begin|1|--end|101"
  "0|out|\"end\":\"340282366920938463463374607431768211456\"|verify|--backend|ctz|--begin|340282366920938463463374607431768211 451|--end|0X100000000000000000000000000000000"
  "0|out|\"checked\":\"5\"|verify|--backend|scalar|--begin|0xffffffffffffffffffffffffffffffFB|--end|2^128"
  "1|out|\"valid\":false,\"message\":\"counterexample or invalid start at 0\"|verify|--backend|scalar|--begin|0|--end|3"
  "2|err|integer exceeds 128 bits or is malformed|verify|--backend|scalar|--begin|-1|--end|3"
  "2|err|range end is below begin|verify|--backend|scalar|--begin|10|--end|3"
  "2|err|single work unit is larger than uint64|verify|--backend|scalar|--begin|0|--end|2^128"
  "2|err|invalid power expression|verify|--backend|scalar|--begin|2^200|--end|3"
  "2|err|empty integer|verify|--backend|scalar|--begin| |--end|3"
  "2|err|--end|verify|--backend|scalar|--begin|1"
  "2|err|threads|verify|--backend|scalar|--begin|1|--end|2|--threads|-4"
  "2|err|^--chunk-starts: a whole number from 0 to 18446744073709551615 \\(2\\^64 - 1\\) is needed|verify|--backend|scalar|--begin|1|--end|2|--chunk-starts|lots"
  "2|err|^--chunk-starts: a whole number from 0|verify|--backend|scalar|--begin|1|--end|2|--chunk-starts|-1"
  "2|err|^--chunk-starts: a whole number from 0|verify|--backend|scalar|--begin|1|--end|2|--chunk-starts|18446744073709551616"
  "0|out|\"checked\":\"3\"|verify|--backend|threaded|--begin|1|--end|4|--chunk-starts|18446744073709551615"
  "0|out|--chunk-starts|verify|--help"
  "0|out|cuda-naive, cuda-sieve, cuda-recursive|verify|--help"
  "2|err|block-size|verify|--backend|cuda-naive|--begin|1|--end|2|--block-size|-1"
)
set(failures 0)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" parts "${case}")
  list(POP_FRONT parts want_status stream pattern)
  execute_process(COMMAND ${EMULATOR} ${WORKER} ${parts} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
  if(stream STREQUAL "out")
    set(text "${out}")
  else()
    set(text "${err}")
  endif()
  string(STRIP "${text}" text)
  if(NOT status STREQUAL want_status OR NOT text MATCHES "${pattern}")
    message(SEND_ERROR "pelorin-worker ${parts}\n  status ${status}, wanted ${want_status}\n  stdout: ${out}\n  stderr: ${err}\n  wanted ${stream} to match: ${pattern}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
# A record that cannot be written (a full disk) is a failure, never a silent success. Wine has
# no /dev/full of its own.
if(NOT EMULATOR)
  execute_process(COMMAND ${WORKER} verify --backend scalar --begin 1 --end 101
    RESULT_VARIABLE status OUTPUT_FILE /dev/full ERROR_VARIABLE err TIMEOUT 60)
  if(NOT status STREQUAL "3" OR NOT err MATCHES "^Could not write the record to standard output")
    message(SEND_ERROR "pelorin-worker verify > /dev/full\n  status ${status}, wanted 3\n  stderr: ${err}")
    math(EXPR failures "${failures} + 1")
  endif()
endif()
# The GPU backends: without a usable device the record is invalid, carries the runtime's
# reason and exits 1, whatever the block size; with a device the run is valid and a bad
# block size is refused.
foreach(block 256 3)
  set(args verify --backend cuda-recursive --begin 1 --end 101 --block-size ${block})
  execute_process(COMMAND ${EMULATOR} ${WORKER} ${args} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
  string(STRIP "${out}" out)
  if(out MATCHES "\"valid\":true" OR err MATCHES "CUDA block size")
    set(ok FALSE)
    if(block STREQUAL "256" AND status STREQUAL "0")
      set(ok TRUE)
    elseif(block STREQUAL "3" AND status STREQUAL "2" AND err MATCHES "^CUDA block size must be a power of two up to 512")
      set(ok TRUE)
    endif()
  else()
    set(ok FALSE)
    if(status STREQUAL "1" AND out MATCHES "^\\{\"format\":\"pelorin-result-v2\",\"mode\":\"verify\",\"backend\":\"cuda-recursive\",\"begin\":\"1\",\"end\":\"101\",\"checked\":\"0\".*\"valid\":false,\"message\":\"[^\"]+\"\\}$")
      set(ok TRUE)
    endif()
  endif()
  if(NOT ok)
    message(SEND_ERROR "pelorin-worker ${args}\n  status ${status}\n  stdout: ${out}\n  stderr: ${err}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} command line case(s) failed")
endif()
