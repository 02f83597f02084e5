// The transport on WinHTTP: one synchronous request per call, with its own session,
// connection and request handles. Certificates are checked against the system's trusted
// authorities; nothing here relaxes that.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "coordinator/https_transport.hpp"
#include "coordinator/retry_after.hpp"
#include "coordinator/transport_messages.hpp"
#include "coordinator/windows_text.hpp"

#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif

namespace pelorin {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

static_assert(kProxyDirect == WINHTTP_ACCESS_TYPE_NO_PROXY);
static_assert(kProxySystem == WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY);
static_assert(WINHTTP_FLAG_SECURE == 0x00800000);

struct HandleCloser {
    void operator()(HINTERNET h) const { WinHttpCloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

[[noreturn]] void fail(HttpsFailure kind, const std::string& message) { throw HttpsError(kind, message); }

// The error code is read by the caller right after the failing call, before anything else
// (string building included) can change it.
[[noreturn]] void fail_setup(const std::string& message, DWORD error) {
    fail(HttpsFailure::setup, message + windows_error_text(error));
}

// The codes with which the secure connection to the server is refused. Windows reports a
// certificate it does not accept as ERROR_WINHTTP_SECURE_FAILURE or one of the specific
// codes; Wine reports every refused certificate as ERROR_WINHTTP_SECURE_CHANNEL_ERROR, which
// Windows gives for a handshake it cannot complete. Waiting mends none of them.
bool is_trust_failure(DWORD error) {
    switch (error) {
        case ERROR_WINHTTP_SECURE_FAILURE:
        case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
        case ERROR_WINHTTP_SECURE_INVALID_CA:
        case ERROR_WINHTTP_SECURE_INVALID_CERT:
        case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
        case ERROR_WINHTTP_SECURE_CERT_REVOKED:
        case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
            return true;
        default:
            return false;
    }
}

DWORD clamped_ms(milliseconds duration) {
    return static_cast<DWORD>(std::clamp<milliseconds::rep>(duration.count(), 0, INT_MAX));
}

std::wstring request_headers(std::string_view token) {
    // A line break in the token would start a header of its own.
    for (char c : token) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            fail(HttpsFailure::setup, "Could not create HTTPS request: the bearer token holds a control character");
        }
    }
    std::wstring headers = L"Content-Type: application/json\r\nAccept: application/json\r\n";
    if (!token.empty()) headers += L"Authorization: Bearer " + utf8_to_utf16(token) + L"\r\n";
    return headers;
}

void set_option(HINTERNET request, DWORD option, DWORD value) {
    if (!WinHttpSetOption(request, option, &value, sizeof value)) {
        const DWORD error = GetLastError();
        fail_setup("Could not create HTTPS request: ", error);
    }
}

// One reply header as text, or absent.
std::optional<std::string> reply_header(HINTERNET request, DWORD query) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                        WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return std::nullopt;
    // Room for a terminating null whether or not the size counted it.
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    value.resize(size / sizeof(wchar_t));
    return utf16_to_utf8(value);
}

// Whether the reply announces a body over the cap (WinHTTP itself refuses a length that is
// not a number).
bool announces_too_much(HINTERNET request) {
    const std::optional<std::string> length = reply_header(request, WINHTTP_QUERY_CONTENT_LENGTH);
    if (!length) return false;
    std::size_t value = 0;
    for (char c : *length) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::size_t>(c - '0');
        if (value > kMaxReplyBytes) return true;
    }
    return false;
}

}  // namespace

std::string connection_advice() {
    return "Check Windows date/time and allow this app outbound TCP " + std::to_string(coordinator_address().port) +
           ".";
}

std::string trust_advice() {
    return "The coordinator's certificate must come from an authority in the Windows root store.";
}

HttpsResponse https_request(std::string_view method, std::string_view path, std::string_view body,
                            std::string_view token) {
    // The transport lock: one request in flight in the whole process, taken before the
    // session opens and released after its handles are closed (the handles are declared
    // after the guard, so they close first, request before connection before session).
    static std::mutex transport_lock;
    std::lock_guard guard(transport_lock);
    const std::uint32_t mode = proxy_mode();
    const CoordinatorAddress address = coordinator_address();
    const TransportTimeouts timeouts = transport_timeouts();
    const std::wstring headers = request_headers(token);
    if (body.size() > MAXDWORD) fail(HttpsFailure::setup, "Could not create HTTPS request: the body is too large");
    const DWORD body_size = static_cast<DWORD>(body.size());

    // WinHTTP has no limit on a whole request: every phase's own limit is cut to what is left
    // of the overall deadline when the phase starts, and the body is read under it.
    const Clock::time_point deadline = Clock::now() + timeouts.total;
    const auto within_deadline = [&](milliseconds phase) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        return clamped_ms(std::clamp(left, milliseconds(1), std::max(phase, milliseconds(1))));
    };
    // A failed send or receive: a trust failure, the deadline, or another network failure.
    const auto fail_exchange = [&](const std::string& head, DWORD error) {
        if (is_trust_failure(error)) fail(HttpsFailure::untrusted, head + windows_error_text(error));
        if (Clock::now() >= deadline) fail(HttpsFailure::network, head + deadline_text(timeouts.total));
        fail(HttpsFailure::network, head + windows_error_text(error));
    };

    const std::wstring user_agent = utf8_to_utf16(kUserAgent);
    Handle session(WinHttpOpen(user_agent.c_str(), mode, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        const DWORD error = GetLastError();
        fail_setup("Could not initialize Windows HTTPS: ", error);
    }
    WinHttpSetTimeouts(session.get(), static_cast<int>(within_deadline(timeouts.resolve)),
                       static_cast<int>(within_deadline(timeouts.connect)),
                       static_cast<int>(within_deadline(timeouts.send)),
                       static_cast<int>(within_deadline(timeouts.receive)));

    Handle connection(WinHttpConnect(session.get(), utf8_to_utf16(address.host).c_str(), address.port, 0));
    if (!connection) {
        const DWORD error = GetLastError();
        fail_setup("Could not open " + address.host + ":" + std::to_string(address.port) + ": ", error);
    }

    Handle request(WinHttpOpenRequest(connection.get(), utf8_to_utf16(method).c_str(), utf8_to_utf16(path).c_str(),
                                      nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request) {
        const DWORD error = GetLastError();
        fail_setup("Could not create HTTPS request: ", error);
    }
    // A redirect would carry the bearer token to wherever it points; the coordinator never
    // redirects, so a 3xx reply is an error like any other non-2xx status.
    set_option(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, WINHTTP_OPTION_REDIRECT_POLICY_NEVER);
    // WinHTTP waits for the reply's headers under a timeout of its own (90 s by default);
    // the receive timeout is meant to bound that wait too.
    set_option(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, within_deadline(timeouts.receive));

    const std::string no_response = "No HTTPS response from " + address.host + ": ";
    void* body_data = body.empty() ? nullptr : const_cast<char*>(body.data());
    if (!WinHttpSendRequest(request.get(), headers.c_str(), static_cast<DWORD>(headers.size()), body_data, body_size,
                            body_size, 0)) {
        const DWORD error = GetLastError();
        fail_exchange("Could not send HTTPS request to " + address.host + ": ", error);
    }
    set_option(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, within_deadline(timeouts.receive));
    if (!WinHttpReceiveResponse(request.get(), nullptr)) {
        const DWORD error = GetLastError();
        fail_exchange(no_response, error);
    }

    DWORD status = 0;
    DWORD status_size = sizeof status;
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size, WINHTTP_NO_HEADER_INDEX);
    if (announces_too_much(request.get())) fail(HttpsFailure::too_large, reply_too_large_text(address.host));

    // A reply cut off inside its body is no reply: part of a JSON text can read as something
    // else, so a failed query or read is reported instead of acting on what arrived. Each
    // wait for more is bounded by what is left of the deadline, so a server sending a byte
    // now and then cannot hold the request.
    std::string reply;
    for (;;) {
        if (Clock::now() >= deadline) fail(HttpsFailure::network, no_response + deadline_text(timeouts.total));
        set_option(request.get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, within_deadline(timeouts.receive));
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available)) {
            const DWORD error = GetLastError();
            fail_exchange(no_response, error);
        }
        if (available == 0) break;
        if (available > kMaxReplyBytes - reply.size()) fail(HttpsFailure::too_large, reply_too_large_text(address.host));
        const std::size_t at = reply.size();
        reply.resize(at + available);
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), reply.data() + at, available, &read)) {
            const DWORD error = GetLastError();
            fail_exchange(no_response, error);
        }
        reply.resize(at + read);
    }

    if (status < 200 || status > 299) {
        std::optional<std::chrono::seconds> retry_after;
        if (const auto value = reply_header(request.get(), WINHTTP_QUERY_RETRY_AFTER)) {
            retry_after = parse_retry_after(*value, std::chrono::system_clock::now());
        }
        throw HttpsError(HttpsFailure::status, status_error_text(status, reply), status, retry_after);
    }
    return HttpsResponse{status, std::move(reply)};
}

}  // namespace pelorin
