#pragma once
// The descent tables on the device: built, hashed and uploaded once per (device, width) per
// process, cached under one mutex, and never released before the process ends.
#include "gpu/descent_tables.hpp"

namespace pelorin {

// The cached tables of width k (12..24) for the calling thread's current device, with device
// pointers. Throws std::runtime_error "cudaGetDevice: ...", "cudaMalloc: ...",
// "copy recursive proof table: ..." or "copy recursive survivor residues: ...".
RecursiveTables recursive_tables(unsigned k);

}  // namespace pelorin
