#include "tests/support/loopback_server.hpp"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <cctype>
#include <mutex>
#include <stdexcept>

#include "sha256/sha256.hpp"

namespace pelorin::test_support {
namespace {

std::size_t collect(char* data, std::size_t size, std::size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

// The Retry-After header of the reply, when it has one.
std::size_t header_line(char* data, std::size_t size, std::size_t count, void* target) {
    const std::string line(data, size * count);
    static const std::string kName = "retry-after:";
    if (line.size() > kName.size()) {
        std::string head = line.substr(0, kName.size());
        for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (head == kName) {
            std::string value = line.substr(kName.size());
            value.erase(0, value.find_first_not_of(' '));
            value.erase(value.find_last_not_of("\r\n ") + 1);
            *static_cast<std::string*>(target) = value;
        }
    }
    return size * count;
}

unsigned zero_bits(const std::string& hex) {
    unsigned bits = 0;
    for (char c : hex) {
        const int v = c <= '9' ? c - '0' : c - 'a' + 10;
        if (v == 0) {
            bits += 4;
            continue;
        }
        for (int mask = 8; (v & mask) == 0; mask >>= 1) ++bits;
        break;
    }
    return bits;
}

std::string member(const nlohmann::json& doc, const char* key) {
    const auto it = doc.find(key);
    return it != doc.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

HttpsReply https_call(int port, const std::filesystem::path& ca_file, const std::string& method,
                      const std::string& path, const std::string& body, const std::vector<std::string>& headers,
                      long timeout_ms, const std::string& source) {
    static std::once_flag init;
    std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (curl == nullptr) throw std::runtime_error("curl_easy_init failed");
    const std::string url = "https://127.0.0.1:" + std::to_string(port) + path;
    const std::string ca = ca_file.string();
    HttpsReply reply;
    curl_slist* list = nullptr;
    if (!body.empty()) list = curl_slist_append(list, "Content-Type: application/json");
    for (const std::string& h : headers) list = curl_slist_append(list, h.c_str());
    char error[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "pelorin-tests");
    const std::string local_address = "host!" + source;
    if (!source.empty()) curl_easy_setopt(curl, CURLOPT_INTERFACE, local_address.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    if (!body.empty() || method == "POST" || method == "PUT") {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeout_ms);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, header_line);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.retry_after);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    const CURLcode rc = curl_easy_perform(curl);
    reply.curl_code = static_cast<int>(rc);
    if (rc == CURLE_OK) {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
        curl_off_t length = -1;
        curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        reply.content_length = length;
    } else {
        reply.error = error[0] != '\0' ? error : curl_easy_strerror(rc);
    }
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return reply;
}

HttpsReply LoopbackServer::call(const std::string& method, const std::string& path, const std::string& body,
                                const std::string& token, const std::string& source) const {
    std::vector<std::string> headers;
    if (!token.empty()) headers.push_back("Authorization: Bearer " + token);
    return https_call(port(), ca_file(), method, path, body, headers, 30000, source);
}

HttpsReply call_as(const LoopbackServer& server, const TestWorker& worker, const std::string& method,
                   const std::string& path, const std::string& body) {
    return server.call(method, path, body, worker.token, worker.source);
}

std::string solve_proof_of_work(const std::string& nonce, unsigned difficulty_bits) {
    for (std::uint64_t counter = 0;; ++counter) {
        const std::string solution = std::to_string(counter);
        if (zero_bits(sha256_hex(nonce + solution)) >= difficulty_bits) return solution;
    }
}

TestWorker register_test_worker(const LoopbackServer& coordinator, const std::string& client_id,
                                const std::string& source) {
    const HttpsReply c = coordinator.call("GET", "/api/v1/register/challenge", "", "", source);
    if (c.status != 200) throw std::runtime_error("challenge failed: " + std::to_string(c.status) + " " + c.body + c.error);
    const nlohmann::json challenge = nlohmann::json::parse(c.body);
    const std::string solution =
        solve_proof_of_work(member(challenge, "nonce"), challenge.at("difficulty_bits").get<unsigned>());
    const nlohmann::json request = {{"challenge_id", member(challenge, "challenge_id")},
                                    {"solution", solution},
                                    {"nickname", "Anonymous"},
                                    {"client_id", client_id},
                                    {"hardware_hash", sha256_hex("test hardware " + client_id + " " + source)},
                                    {"build_hash", std::string(64, 'b')}};
    const HttpsReply r = coordinator.call("POST", "/api/v1/workers/register", request.dump(), "", source);
    if (r.status != 200) throw std::runtime_error("registration failed: " + std::to_string(r.status) + " " + r.body + r.error);
    const nlohmann::json reply = nlohmann::json::parse(r.body);
    return TestWorker{member(reply, "worker_id"), member(reply, "token"), source};
}

}  // namespace pelorin::test_support
