#pragma once
// A GET over WinHTTP that does not go through the transport under test (nor its lock):
// for watching the coordinator while a request of the transport is under way.
#include <cstdint>
#include <string>

namespace pelorin::test {

// The body of https://localhost:<port><path>; throws std::runtime_error on any failure.
std::string plain_get(std::uint16_t port, const wchar_t* path);

}  // namespace pelorin::test
