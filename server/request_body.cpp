#include "server/request_body.hpp"

#include <cmath>
#include <set>
#include <vector>

#include "server/limits.hpp"

namespace pelorin::server {

std::optional<nlohmann::ordered_json> read_json_object(std::string_view body, std::string& error) {
    using json = nlohmann::ordered_json;
    std::vector<std::set<std::string>> keys;  // the members seen in each open object
    std::string twice;
    bool too_deep = false;
    auto watch = [&](int depth, json::parse_event_t event, json& parsed) {
        switch (event) {
            case json::parse_event_t::object_start:
                keys.emplace_back();
                [[fallthrough]];
            case json::parse_event_t::array_start:
                if (depth >= kMaxJsonDepth) too_deep = true;
                break;
            case json::parse_event_t::object_end:
                if (!keys.empty()) keys.pop_back();
                break;
            case json::parse_event_t::key:
                if (!keys.empty() && !keys.back().insert(parsed.get<std::string>()).second && twice.empty())
                    twice = parsed.get<std::string>();
                break;
            default:
                break;
        }
        // What lies too deep is not kept.
        return !too_deep;
    };
    json doc;
    try {
        doc = json::parse(body.begin(), body.end(), watch, true, false);
    } catch (const json::exception& e) {
        error = std::string("the request body is not JSON: ") + e.what();
        return std::nullopt;
    }
    if (too_deep) {
        error = "the request body nests too deeply";
        return std::nullopt;
    }
    if (!twice.empty()) {
        error = "the request body names the member " + twice + " twice";
        return std::nullopt;
    }
    if (!doc.is_object()) {
        error = "the request body is not a JSON object";
        return std::nullopt;
    }
    return doc;
}

std::optional<std::string> string_member(const nlohmann::ordered_json& object, const char* key, std::size_t max_bytes,
                                         std::string& error) {
    const auto it = object.find(key);
    if (it == object.end()) return std::string();
    if (!it->is_string()) {
        error = std::string("member ") + key + " must be a string";
        return std::nullopt;
    }
    const std::string& value = it->get_ref<const std::string&>();
    if (value.size() > max_bytes) {
        error = std::string("member ") + key + " is longer than " + std::to_string(max_bytes) + " bytes";
        return std::nullopt;
    }
    return value;
}

std::optional<double> number_member(const nlohmann::ordered_json& object, const char* key, std::string& error) {
    const auto it = object.find(key);
    if (it == object.end()) return 0.0;
    if (!it->is_number() || !std::isfinite(it->get<double>())) {
        error = std::string("member ") + key + " must be a number";
        return std::nullopt;
    }
    return it->get<double>();
}

}  // namespace pelorin::server
