#pragma once
// A test worker's acquire and complete on a real pelorin-coordinator, each expected to be
// answered 200: the reply's JSON, or an empty object (with the failure recorded) otherwise.
#include <string>

#include <nlohmann/json.hpp>

#include "tests/support/coordinator_process.hpp"

namespace pelorin::test_support {

// `starts_per_second` is the lease request's rate as JSON number text.
nlohmann::json acquire_unit(const CoordinatorProcess& c, const TestWorker& w, const char* starts_per_second = "1e+06");
nlohmann::json complete_unit(const CoordinatorProcess& c, const TestWorker& w, const nlohmann::json& lease,
                             const std::string& body);

}  // namespace pelorin::test_support
