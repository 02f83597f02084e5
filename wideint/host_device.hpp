#pragma once
// Functions marked PELORIN_HD compile for the host and, under nvcc, for the device too,
// so the GPU kernel and the host tests run the same integer code.
#if defined(__CUDACC__)
#define PELORIN_HD __host__ __device__
#else
#define PELORIN_HD
#endif
