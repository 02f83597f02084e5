#pragma once
// How fast one core recomputes checksums here: a short timed run of the real kernel, so the
// recompute budget is spent at the machine's own speed rather than at a guess.
namespace pelorin::server {

// Starts per second of the checksum kernel on the calling thread, timed over about `seconds`.
double measure_checksum_rate(double seconds);

}  // namespace pelorin::server
