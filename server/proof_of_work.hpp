#pragma once
// The registration puzzle: SHA-256 of nonce + solution text must begin with enough zero bits.
#include <string>
#include <string_view>

namespace pelorin::server {

// Leading zero bits of a digest written as hex (0 counts 4 and goes on; the first other
// digit adds its own leading zeros and ends the count). Non-hex text counts as no zeros.
unsigned leading_zero_bits(std::string_view hex_digest);

// True when the solution is a non-empty run of at most 20 decimal digits and
// sha256(nonce + solution) has at least difficulty_bits leading zero bits.
bool proof_of_work_holds(std::string_view nonce, std::string_view solution, unsigned difficulty_bits);

}  // namespace pelorin::server
