#include "tools/loadgen/https_multi.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <unordered_set>
#include <vector>

#include "coordinator/retry_after.hpp"

namespace pelorin::loadgen {
namespace {

// Replies are capped as the worker caps them.
constexpr std::size_t kMaxReplyBytes = std::size_t{1} << 20;

size_t on_body(char* data, size_t size, size_t count, void* user) {
    auto* body = static_cast<std::string*>(user);
    if (size * count > kMaxReplyBytes - std::min(body->size(), kMaxReplyBytes)) return 0;
    body->append(data, size * count);
    return size * count;
}

// "Retry-After: <value>\r\n", the name in any case.
size_t on_header(char* data, size_t size, size_t count, void* user) {
    static constexpr std::string_view kName = "retry-after:";
    const std::string_view line(data, size * count);
    if (line.size() > kName.size() &&
        std::equal(kName.begin(), kName.end(), line.begin(),
                   [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); })) {
        std::string_view value = line.substr(kName.size());
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.remove_suffix(1);
        *static_cast<std::optional<std::chrono::seconds>*>(user) =
            parse_retry_after(value, std::chrono::system_clock::now());
    }
    return size * count;
}

}  // namespace

struct HttpsMulti::Transfer {
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    std::string local_address;  // CURLOPT_INTERFACE keeps the pointer until the transfer ends
    Done done;
    HttpReply reply;
    std::chrono::steady_clock::time_point started;
    char error[CURL_ERROR_SIZE] = {};
};

struct HttpsMulti::State {
    CURLM* multi = nullptr;
    std::unordered_set<Transfer*> open;  // owned here while in flight
};



HttpsMulti::HttpsMulti(std::filesystem::path ca_file, std::size_t max_in_flight, std::chrono::milliseconds timeout)
    : state_(std::make_unique<State>()), ca_file_(std::move(ca_file)), timeout_(timeout) {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) throw std::runtime_error("cannot set up libcurl");
    state_->multi = curl_multi_init();
    if (state_->multi == nullptr) throw std::runtime_error("cannot set up libcurl's multi interface");
    curl_multi_setopt(state_->multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, static_cast<long>(max_in_flight));
}

HttpsMulti::~HttpsMulti() {
    // Requests still in flight are abandoned.
    for (Transfer* t : state_->open) {
        curl_multi_remove_handle(state_->multi, t->easy);
        curl_easy_cleanup(t->easy);
        curl_slist_free_all(t->headers);
        delete t;
    }
    curl_multi_cleanup(state_->multi);
}

void HttpsMulti::send(const HttpRequest& request, Done done) {
    auto t = std::make_unique<Transfer>();
    t->done = std::move(done);
    t->easy = curl_easy_init();
    if (t->easy == nullptr) throw std::runtime_error("cannot make a libcurl handle");
    CURL* h = t->easy;
    const std::string url = "https://" + request.server + request.path;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    if (request.method != "GET") curl_easy_setopt(h, CURLOPT_COPYPOSTFIELDS, request.body.c_str());
    t->headers = curl_slist_append(t->headers, "Content-Type: application/json");
    t->headers = curl_slist_append(t->headers, "Accept: application/json");
    if (!request.token.empty())
        t->headers = curl_slist_append(t->headers, ("Authorization: Bearer " + request.token).c_str());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, t->headers);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "pelorin-loadgen");
    if (!request.source.empty()) {
        t->local_address = "host!" + request.source;
        curl_easy_setopt(h, CURLOPT_INTERFACE, t->local_address.c_str());
    }
    curl_easy_setopt(h, CURLOPT_CAINFO, ca_file_.c_str());
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    // A new TLS connection for every request, no session resumed: what the worker pays.
    curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout_.count()));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t->reply.body);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &t->reply.retry_after);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, t->error);
    curl_easy_setopt(h, CURLOPT_PRIVATE, t.get());
    t->reply.sent = std::chrono::system_clock::now();
    t->started = std::chrono::steady_clock::now();
    if (curl_multi_add_handle(state_->multi, h) != CURLM_OK) {
        curl_slist_free_all(t->headers);
        curl_easy_cleanup(h);
        throw std::runtime_error("cannot start a request to " + url);
    }
    state_->open.insert(t.release());
    ++in_flight_;
}

void HttpsMulti::poll(std::chrono::milliseconds wait) {
    int running = 0;
    curl_multi_perform(state_->multi, &running);
    curl_multi_poll(state_->multi, nullptr, 0, static_cast<int>(wait.count()), nullptr);
    curl_multi_perform(state_->multi, &running);
    // Finished transfers are collected first: their callbacks start new ones.
    std::vector<std::unique_ptr<Transfer>> finished;
    int left = 0;
    while (CURLMsg* m = curl_multi_info_read(state_->multi, &left)) {
        if (m->msg != CURLMSG_DONE) continue;
        Transfer* raw = nullptr;
        curl_easy_getinfo(m->easy_handle, CURLINFO_PRIVATE, &raw);
        std::unique_ptr<Transfer> t(raw);
        state_->open.erase(raw);
        const CURLcode code = m->data.result;
        t->reply.done = std::chrono::system_clock::now();
        t->reply.latency_ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t->started).count();
        if (code == CURLE_OK) {
            curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &t->reply.status);
        } else {
            t->reply.status = 0;
            t->reply.error = t->error[0] != '\0' ? t->error : curl_easy_strerror(code);
        }
        curl_multi_remove_handle(state_->multi, t->easy);
        curl_easy_cleanup(t->easy);
        curl_slist_free_all(t->headers);
        t->easy = nullptr;
        t->headers = nullptr;
        --in_flight_;
        finished.push_back(std::move(t));
    }
    for (const auto& t : finished) t->done(t->reply);
}

}  // namespace pelorin::loadgen
