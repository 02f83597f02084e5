#include <nlohmann/json.hpp>

#include <stdexcept>

#include "tests/support/dev_coordinator_process.hpp"

namespace pelorin::test_support {
namespace {

std::string member(const nlohmann::json& doc, const char* key) {
    const auto it = doc.find(key);
    return it != doc.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

void DevCoordinatorProcess::post_fault(const std::string& fault_json) const {
    const HttpsReply r = call("POST", "/dev/faults", fault_json);
    if (r.status != 200) throw std::runtime_error("fault refused (" + std::to_string(r.status) + "): " + r.body + r.error);
}

void DevCoordinatorProcess::clear_faults() const {
    const HttpsReply r = call("DELETE", "/dev/faults");
    if (r.status != 200) throw std::runtime_error("cannot clear faults: " + r.body + r.error);
}

std::vector<RecordedRequest> DevCoordinatorProcess::requests() const {
    const HttpsReply r = call("GET", "/dev/requests");
    if (r.status != 200) throw std::runtime_error("cannot read /dev/requests: " + r.body + r.error);
    std::vector<RecordedRequest> out;
    for (const nlohmann::json& j : nlohmann::json::parse(r.body)) {
        RecordedRequest rr;
        rr.method = member(j, "method");
        rr.path = member(j, "path");
        for (const nlohmann::json& a : j.at("authorization")) rr.authorization.push_back(a.get<std::string>());
        rr.user_agent = member(j, "user_agent");
        rr.content_type = member(j, "content_type");
        rr.accept = member(j, "accept");
        rr.body = member(j, "body");
        out.push_back(std::move(rr));
    }
    return out;
}

void DevCoordinatorProcess::clear_requests() const {
    const HttpsReply r = call("DELETE", "/dev/requests");
    if (r.status != 200) throw std::runtime_error("cannot clear /dev/requests: " + r.body + r.error);
}

std::string DevCoordinatorProcess::ledger_json() const {
    const HttpsReply r = call("GET", "/dev/ledger");
    if (r.status != 200) throw std::runtime_error("cannot read /dev/ledger: " + r.body + r.error);
    return r.body;
}

}  // namespace pelorin::test_support
