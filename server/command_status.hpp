#pragma once
// The one place the coordinator programs catch errors: the message on standard error, exit
// status 2 for bad input (invalid arguments, numbers out of range), 1 for anything else.
#include <functional>

namespace pelorin::server {

int run_reporting_errors(const std::function<int()>& body);

}  // namespace pelorin::server
