#include "tests/server/lease_calls.hpp"

#include <gtest/gtest.h>

namespace pelorin::test_support {

nlohmann::json acquire_unit(const CoordinatorProcess& c, const TestWorker& w, const char* starts_per_second) {
    const HttpsReply r = c.call("POST", "/api/v1/leases/acquire",
                                std::string(R"({"starts_per_second":)") + starts_per_second + R"(,"proof_hash":"h"})", w.token);
    EXPECT_EQ(r.status, 200) << w.worker_id << ": " << r.body;
    return r.status == 200 ? nlohmann::json::parse(r.body) : nlohmann::json::object();
}

nlohmann::json complete_unit(const CoordinatorProcess& c, const TestWorker& w, const nlohmann::json& lease,
                             const std::string& body) {
    const HttpsReply r = c.call("POST", "/api/v1/leases/" + lease.value("lease_id", "") + "/complete", body, w.token);
    EXPECT_EQ(r.status, 200) << w.worker_id << ": " << r.body;
    return r.status == 200 ? nlohmann::json::parse(r.body) : nlohmann::json::object();
}

}  // namespace pelorin::test_support
