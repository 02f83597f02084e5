// The transport on libcurl. Certificate verification stays on; a private CA is trusted
// through SSL_CERT_FILE, which libcurl does not read by itself.
#include <curl/curl.h>

#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "coordinator/environment.hpp"
#include "coordinator/https_transport.hpp"

namespace pelorin {
namespace {

using Clock = std::chrono::steady_clock;

struct CurlDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;
using CurlUrl = std::unique_ptr<CURLU, CurlDeleter>;
using CurlList = std::unique_ptr<curl_slist, CurlDeleter>;

[[noreturn]] void fail(const std::string& message) { throw std::runtime_error(message); }

// What one transfer has seen; read by the callbacks, which run on this thread inside
// curl_easy_perform.
struct Transfer {
    std::string body;
    std::exception_ptr error;  // an exception caught inside a callback
    bool connected = false;
    bool upload_done = false;
    bool timed_out = false;
    curl_off_t uploaded = -1;
    Clock::time_point last_progress;
    std::chrono::milliseconds send_limit{};
    std::chrono::milliseconds receive_limit{};
};

size_t on_body(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    try {
        t->body.append(data, size * count);
    } catch (...) {
        t->error = std::current_exception();
        return 0;
    }
    t->last_progress = Clock::now();
    return size * count;
}

size_t on_header(char*, size_t size, size_t count, void* user) {
    static_cast<Transfer*>(user)->last_progress = Clock::now();
    return size * count;
}

// Called once the connection (TLS included) stands, right before the request goes out.
int on_connected(void* user, char*, char*, int, int) {
    auto* t = static_cast<Transfer*>(user);
    t->connected = true;
    t->last_progress = Clock::now();
    return CURL_PREREQFUNC_OK;
}

// The send and receive limits bound each stretch without progress, not the whole exchange.
// libcurl calls this at least about once a second while a transfer is open.
int on_progress(void* user, curl_off_t, curl_off_t, curl_off_t ultotal, curl_off_t ulnow) {
    auto* t = static_cast<Transfer*>(user);
    if (!t->connected) return 0;  // the connect timeout covers this phase
    const Clock::time_point now = Clock::now();
    if (ulnow != t->uploaded) {
        t->uploaded = ulnow;
        t->last_progress = now;
    }
    t->upload_done = ulnow >= ultotal;
    const auto limit = t->upload_done ? t->receive_limit : t->send_limit;
    if (now - t->last_progress > limit) {
        t->timed_out = true;
        return 1;
    }
    return 0;
}

void global_init() {
    static std::once_flag once;
    static CURLcode result = CURLE_OK;
    std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (result != CURLE_OK) fail(std::string("Could not initialize HTTPS: ") + curl_easy_strerror(result));
}

// Every option is set through this; a refusal means the request cannot be built as asked.
template <typename Value>
void set(CURL* h, CURLoption option, Value value) {
    const CURLcode rc = curl_easy_setopt(h, option, value);
    if (rc != CURLE_OK) fail(std::string("Could not create HTTPS request: ") + curl_easy_strerror(rc));
}

CurlUrl build_url(const CoordinatorAddress& address, std::string_view path) {
    CurlUrl url(curl_url());
    if (!url) fail("Could not create HTTPS request: out of memory");
    const std::string host_port = address.host + ":" + std::to_string(address.port);
    // An IPv6 literal stands in brackets in a URL.
    const std::string host =
        address.host.find(':') != std::string::npos && address.host.front() != '[' ? "[" + address.host + "]"
                                                                                   : address.host;
    CURLUcode rc = curl_url_set(url.get(), CURLUPART_SCHEME, "https", 0);
    if (rc == CURLUE_OK) rc = curl_url_set(url.get(), CURLUPART_HOST, host.c_str(), 0);
    if (rc == CURLUE_OK) rc = curl_url_set(url.get(), CURLUPART_PORT, std::to_string(address.port).c_str(), 0);
    if (rc != CURLUE_OK) fail("Could not open " + host_port + ": " + curl_url_strerror(rc));
    rc = curl_url_set(url.get(), CURLUPART_PATH, std::string(path).c_str(), 0);
    if (rc != CURLUE_OK) fail(std::string("Could not create HTTPS request: ") + curl_url_strerror(rc));
    return url;
}

CurlList build_headers(std::string_view token) {
    // A line break in the token would start a header of its own.
    for (char c : token) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            fail("Could not create HTTPS request: the bearer token holds a control character");
        }
    }
    std::string lines[4] = {"Content-Type: application/json", "Accept: application/json",
                            // No "Expect: 100-continue" round trip before the body.
                            "Expect:", ""};
    if (!token.empty()) lines[3] = "Authorization: Bearer " + std::string(token);
    CurlList list;
    for (const std::string& line : lines) {
        if (line.empty()) continue;
        curl_slist* grown = curl_slist_append(list.get(), line.c_str());
        if (grown == nullptr) fail("Could not create HTTPS request: out of memory");
        list.release();
        list.reset(grown);
    }
    return list;
}

}  // namespace

std::string connection_advice() {
    return "Check the system date/time and allow this app outbound TCP " +
           std::to_string(coordinator_address().port) + ".";
}

std::string trust_advice() { return "The certificate authority to trust can be given in SSL_CERT_FILE."; }

HttpsResponse https_request(std::string_view method, std::string_view path, std::string_view body,
                            std::string_view token) {
    // The transport lock: one request in flight in the whole process.
    static std::mutex transport_lock;
    std::lock_guard guard(transport_lock);
    const std::uint32_t mode = proxy_mode();
    const CoordinatorAddress address = coordinator_address();
    const TransportTimeouts timeouts = transport_timeouts();

    global_init();
    CurlHandle curl(curl_easy_init());
    if (!curl) fail("Could not initialize HTTPS: libcurl could not create a transfer");
    CURL* h = curl.get();

    CurlUrl url = build_url(address, path);
    CurlList headers = build_headers(token);
    Transfer transfer;
    transfer.send_limit = timeouts.send;
    transfer.receive_limit = timeouts.receive;
    char error_text[CURL_ERROR_SIZE] = {};
    const std::string method_text(method);

    set(h, CURLOPT_ERRORBUFFER, error_text);
    set(h, CURLOPT_CURLU, url.get());
    set(h, CURLOPT_PROTOCOLS_STR, "https");
    set(h, CURLOPT_NOSIGNAL, 1L);
    set(h, CURLOPT_USERAGENT, kUserAgent);
    set(h, CURLOPT_HTTPHEADER, headers.get());
    if (method_text == "GET" && body.empty()) {
        set(h, CURLOPT_HTTPGET, 1L);
    } else {
        // The body is sent as given, with its length (0 for an empty body).
        set(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        set(h, CURLOPT_POSTFIELDS, body.empty() ? "" : body.data());
        set(h, CURLOPT_CUSTOMREQUEST, method_text.c_str());
    }
    if (mode == kProxySystem) {
        // libcurl's default: the proxy named by https_proxy / HTTPS_PROXY / all_proxy, with no_proxy.
    } else {
        set(h, CURLOPT_PROXY, "");
        set(h, CURLOPT_NOPROXY, "*");
    }
    if (const auto ca_file = environment_variable("SSL_CERT_FILE")) set(h, CURLOPT_CAINFO, ca_file->c_str());
    // libcurl's connect phase covers the name lookup, the TCP connection and the TLS handshake.
    set(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>((timeouts.resolve + timeouts.connect + timeouts.send).count()));
    set(h, CURLOPT_WRITEFUNCTION, on_body);
    set(h, CURLOPT_WRITEDATA, &transfer);
    set(h, CURLOPT_HEADERFUNCTION, on_header);
    set(h, CURLOPT_HEADERDATA, &transfer);
    set(h, CURLOPT_PREREQFUNCTION, on_connected);
    set(h, CURLOPT_PREREQDATA, &transfer);
    set(h, CURLOPT_XFERINFOFUNCTION, on_progress);
    set(h, CURLOPT_XFERINFODATA, &transfer);
    set(h, CURLOPT_NOPROGRESS, 0L);

    const CURLcode rc = curl_easy_perform(h);
    if (transfer.error) std::rethrow_exception(transfer.error);

    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (rc != CURLE_OK) {
        std::string detail;
        if (transfer.timed_out) {
            const auto limit = transfer.upload_done ? timeouts.receive : timeouts.send;
            detail = "Operation timed out after " + std::to_string(limit.count()) +
                     " milliseconds with no data " + (transfer.upload_done ? "received" : "sent");
        } else {
            detail = error_text[0] != '\0' ? error_text : curl_easy_strerror(rc);
        }
        // Until the connection to the coordinator stands (through any proxy tunnel, TLS
        // included) and the request is out, nothing was sent. After that every failure,
        // a reply cut off in its body included, is no response: part of a reply is not acted on.
        const bool request_sent =
            transfer.connected && rc != CURLE_SEND_ERROR && !(transfer.timed_out && !transfer.upload_done);
        if (request_sent) fail("No HTTPS response from " + address.host + ": " + detail);
        fail("Could not send HTTPS request to " + address.host + ": " + detail);
    }
    if (status < 200 || status > 299) {
        fail(coordinator_error_text(static_cast<std::uint32_t>(status), transfer.body));
    }
    return HttpsResponse{static_cast<std::uint32_t>(status), std::move(transfer.body)};
}

}  // namespace pelorin
