// The campaign server's reader of request bodies, as each endpoint takes them: the first byte
// picks the endpoint (acquire, heartbeat, register, benchmark, complete), the rest is the
// body. Strict JSON objects only, each member read for its value alone; a complete's record
// goes through the structure check of a fixed unit, its normalised form and the comparison
// of copies.
#include <string>

#include <nlohmann/json.hpp>

#include "server/request_body.hpp"
#include "server/result_check.hpp"
#include "server/store/copies.hpp"
#include "tests/fuzz/fuzz_check.hpp"

using namespace pelorin;
using namespace pelorin::fuzz;

namespace {

using ojson = nlohmann::ordered_json;

constexpr std::size_t kMaxText = 256;

void check_reader_refusal(const std::string& error) {
    for (const char* prefix : {"the request body is not JSON: ", "the request body is not a JSON object",
                               "the request body names the member ", "the request body nests too deeply"})
        if (error.rfind(prefix, 0) == 0) return;
    broken("a refusal of the reader without its message", error);
}

// A string member within its limit, "" when absent; otherwise the member's own message.
void read_text(const ojson& body, const char* key) {
    std::string error;
    const auto value = server::string_member(body, key, kMaxText, error);
    if (value) {
        expect(value->size() <= kMaxText, "a string member over its limit was read", key);
        const auto it = body.find(key);
        expect(it == body.end() ? value->empty() : (it->is_string() && *value == it->get<std::string>()),
               "a string member read as something else", key);
    } else {
        expect(error == std::string("member ") + key + " must be a string" ||
                   error == std::string("member ") + key + " is longer than 256 bytes",
               "a string member refused without its message", error);
    }
}

void read_number(const ojson& body, const char* key) {
    std::string error;
    const auto value = server::number_member(body, key, error);
    if (!value) expect(error == std::string("member ") + key + " must be a number", "a number refused oddly", error);
}

void check_record(const ojson& record) {
    // 2^16 starts above 2^32.
    const UnitRange unit{U128{4294967296ull, 0}, U128{4295032832ull, 0}, false};
    const server::StructureCheck check = server::check_structure(unit, record);
    // The normalised record (what export writes) holds the record's members alone, once
    // normalised stays so, and is judged as the record was.
    const ojson normal = server::normalised_record(record);
    expect(!server::foreign_member(normal), "a normalised record keeps a member of its own", normal.dump());
    expect(server::normalised_record(normal) == normal, "normalising twice changed the record", normal.dump());
    expect(server::check_structure(unit, normal).reason == check.reason, "normalising changed the verdict", check.reason);
    if (!check.passed) {
        expect(!check.reason.empty(), "a refused record without a reason");
        return;
    }
    expect(record.at("checked") == "65536", "a record of another size passed");
    expect(record.at("valid") == true, "an invalid record passed");
    expect(record.at("frontier_nodes") == "0", "a survivor-frontier record passed");
    const std::string comparable = server::comparable_text(record);
    expect(server::copies_agree(comparable, comparable), "a record disagrees with itself", comparable);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int endpoint = data[0] % 5;
    const std::string_view text = as_text(data + 1, size - 1);
    std::string error;
    const auto body = server::read_json_object(text, error);
    if (!body) {
        check_reader_refusal(error);
        return 0;
    }
    expect(body->is_object(), "the reader let a non-object through");
    // What was accepted reads back the same, member order included.
    std::string again_error;
    const auto again = server::read_json_object(body->dump(), again_error);
    expect(again && *again == *body, "an accepted body does not read back the same", again_error);

    switch (endpoint) {
        case 0:
            read_number(*body, "starts_per_second");
            read_text(*body, "proof_hash");
            break;
        case 1: read_text(*body, "progress"); break;
        case 2:
            for (const char* key : {"challenge_id", "solution", "client_id", "nickname", "hardware_hash", "build_hash"})
                read_text(*body, key);
            break;
        case 3:
            for (const char* key : {"build_hash", "backend", "profile"}) read_text(*body, key);
            read_number(*body, "starts_per_second");
            break;
        default:
            if (const auto it = body->find("result"); it != body->end() && it->is_object()) check_record(*it);
            break;
    }
    return 0;
}
