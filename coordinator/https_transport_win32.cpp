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
#include <stdexcept>
#include <string>

#include "coordinator/https_transport.hpp"
#include "coordinator/windows_text.hpp"

#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif

namespace pelorin {
namespace {

static_assert(kProxyDirect == WINHTTP_ACCESS_TYPE_NO_PROXY);
static_assert(kProxySystem == WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY);
static_assert(WINHTTP_FLAG_SECURE == 0x00800000);

struct HandleCloser {
    void operator()(HINTERNET h) const { WinHttpCloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

[[noreturn]] void fail(const std::string& message) { throw std::runtime_error(message); }

// The error code is read by the caller right after the failing call, before anything else
// (string building included) can change it.
[[noreturn]] void fail(const std::string& message, DWORD error) { fail(message + windows_error_text(error)); }

int milliseconds(std::chrono::milliseconds duration) {
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(duration.count(), 0, INT_MAX));
}

std::wstring request_headers(std::string_view token) {
    // A line break in the token would start a header of its own.
    for (char c : token) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            fail("Could not create HTTPS request: the bearer token holds a control character");
        }
    }
    std::wstring headers = L"Content-Type: application/json\r\nAccept: application/json\r\n";
    if (!token.empty()) headers += L"Authorization: Bearer " + utf8_to_utf16(token) + L"\r\n";
    return headers;
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
    if (body.size() > MAXDWORD) fail("Could not create HTTPS request: the body is too large");
    const DWORD body_size = static_cast<DWORD>(body.size());

    const std::wstring user_agent = utf8_to_utf16(kUserAgent);
    Handle session(WinHttpOpen(user_agent.c_str(), mode, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        const DWORD error = GetLastError();
        fail("Could not initialize Windows HTTPS: ", error);
    }
    WinHttpSetTimeouts(session.get(), milliseconds(timeouts.resolve), milliseconds(timeouts.connect),
                       milliseconds(timeouts.send), milliseconds(timeouts.receive));

    Handle connection(WinHttpConnect(session.get(), utf8_to_utf16(address.host).c_str(), address.port, 0));
    if (!connection) {
        const DWORD error = GetLastError();
        fail("Could not open " + address.host + ":" + std::to_string(address.port) + ": ", error);
    }

    Handle request(WinHttpOpenRequest(connection.get(), utf8_to_utf16(method).c_str(), utf8_to_utf16(path).c_str(),
                                      nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request) {
        const DWORD error = GetLastError();
        fail("Could not create HTTPS request: ", error);
    }
    // A redirect would carry the bearer token to wherever it points; the coordinator never
    // redirects, so a 3xx reply is an error like any other non-2xx status.
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never)) {
        const DWORD error = GetLastError();
        fail("Could not create HTTPS request: ", error);
    }

    // WinHTTP waits for the reply's headers under a timeout of its own (90 s by default);
    // the receive timeout is meant to bound that wait too.
    DWORD receive_ms = static_cast<DWORD>(milliseconds(timeouts.receive));
    if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receive_ms, sizeof receive_ms)) {
        const DWORD error = GetLastError();
        fail("Could not create HTTPS request: ", error);
    }

    void* body_data = body.empty() ? nullptr : const_cast<char*>(body.data());
    if (!WinHttpSendRequest(request.get(), headers.c_str(), static_cast<DWORD>(headers.size()), body_data, body_size,
                            body_size, 0)) {
        const DWORD error = GetLastError();
        fail("Could not send HTTPS request to " + address.host + ": ", error);
    }
    if (!WinHttpReceiveResponse(request.get(), nullptr)) {
        const DWORD error = GetLastError();
        fail("No HTTPS response from " + address.host + ": ", error);
    }

    DWORD status = 0;
    DWORD status_size = sizeof status;
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size, WINHTTP_NO_HEADER_INDEX);

    // A reply cut off inside its body is no reply: part of a JSON text can read as something
    // else, so a failed query or read is reported instead of acting on what arrived.
    std::string reply;
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available)) {
            const DWORD error = GetLastError();
            fail("No HTTPS response from " + address.host + ": ", error);
        }
        if (available == 0) break;
        const std::size_t at = reply.size();
        reply.resize(at + available);
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), reply.data() + at, available, &read)) {
            const DWORD error = GetLastError();
            fail("No HTTPS response from " + address.host + ": ", error);
        }
        reply.resize(at + read);
    }

    if (status < 200 || status > 299) fail(coordinator_error_text(status, reply));
    return HttpsResponse{status, std::move(reply)};
}

}  // namespace pelorin
