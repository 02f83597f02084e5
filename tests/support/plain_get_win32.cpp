#include <windows.h>
#include <winhttp.h>

#include <memory>
#include <stdexcept>

#include "tests/support/plain_get.hpp"

namespace pelorin::test {
namespace {

struct Closer {
    void operator()(HINTERNET h) const { WinHttpCloseHandle(h); }
};
using Handle = std::unique_ptr<void, Closer>;

}  // namespace

std::string plain_get(std::uint16_t port, const wchar_t* path) {
    const Handle session(WinHttpOpen(L"pelorin-test", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0));
    const Handle connection(session ? WinHttpConnect(session.get(), L"localhost", port, 0) : nullptr);
    const Handle request(connection ? WinHttpOpenRequest(connection.get(), L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                                         WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE)
                                    : nullptr);
    if (!request || !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, nullptr, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        throw std::runtime_error("plain_get failed with error " + std::to_string(GetLastError()));
    }
    std::string body;
    DWORD available = 0;
    while (WinHttpQueryDataAvailable(request.get(), &available) && available > 0) {
        const std::size_t at = body.size();
        body.resize(at + available);
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), body.data() + at, available, &read)) break;
        body.resize(at + read);
    }
    return body;
}

}  // namespace pelorin::test
