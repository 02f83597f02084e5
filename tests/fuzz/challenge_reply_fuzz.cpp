// The challenge reply's body: its nonce, challenge id and difficulty, or the refusal of an
// unusable challenge id, an unreachable difficulty or a difficulty beyond 64 bits.
#include <stdexcept>
#include <string>

#include "coordinator/json_text.hpp"
#include "coordinator/proof_of_work.hpp"
#include "coordinator/registration.hpp"
#include "tests/fuzz/fuzz_check.hpp"

using namespace pelorin;
using namespace pelorin::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body = as_text(data, size);
    Challenge challenge;
    try {
        challenge = read_challenge(body);
    } catch (const std::out_of_range& e) {
        expect_message(e.what(), {"stoull argument out of range"});
        return 0;
    } catch (const std::runtime_error& e) {
        const std::string_view message = e.what();
        const bool known = message == "Coordinator sent an unusable challenge_id (it holds a quote, backslash or "
                                      "control character)" ||
                           (message.starts_with("Registration challenge asks for ") &&
                            message.ends_with(" leading zero bits; a SHA-256 digest has only 256"));
        expect(known, "a refusal of the challenge", message);
        return 0;
    }
    expect(challenge.difficulty_bits <= kMaxDifficultyBits, "an accepted difficulty can be met");
    expect(challenge.nonce == json_string_field(body, "nonce", ""), "the nonce as sent");
    return 0;
}
