#pragma once
// Run-time processor checks: the instruction set is present and the OS saves its registers.

namespace pelorin {

bool cpu_has_avx2();
bool cpu_has_avx512();  // F, DQ and VL, all the checksum kernel uses

}  // namespace pelorin
