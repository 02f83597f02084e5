#pragma once
// The query parameters of the stats endpoints, read strictly: every parameter must be one the
// endpoint knows, given once, and numbers are plain decimal within their range. The first
// fault is kept as the message of a 400 reply.
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pelorin::server {

using QueryParams = std::vector<std::pair<std::string, std::string>>;

class QueryReader {
public:
    explicit QueryReader(const QueryParams& params);

    // A whole number from min to max; `fallback` when absent.
    int integer(const char* name, int min, int max, int fallback);
    // A text of 1 to max_bytes bytes that must be given.
    std::string required_text(const char* name, std::size_t max_bytes);

    // After the reads: the first fault ("unknown query parameter x", "query parameter x is
    // given more than once", "query parameter x must be a whole number from 1 to 168", "query
    // parameter x is required"...), or nothing.
    std::optional<std::string> fault() const;

private:
    const std::string* value_of(const char* name);
    void fail(std::string message);

    const QueryParams& params_;
    std::vector<std::string> known_;
    std::optional<std::string> fault_;
};

}  // namespace pelorin::server
