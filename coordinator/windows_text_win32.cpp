#include <windows.h>
#include <winhttp.h>

#include <climits>
#include <stdexcept>

#include "coordinator/windows_text.hpp"

namespace pelorin {
namespace {

// The names of WinHTTP's codes, for a WinHTTP without a message table of its own (Wine's).
struct CodeName {
    DWORD code;
    const char* name;
};
#define PELORIN_CODE(name) {name, #name}
constexpr CodeName kWinHttpCodeNames[] = {
    PELORIN_CODE(ERROR_WINHTTP_OUT_OF_HANDLES),
    PELORIN_CODE(ERROR_WINHTTP_TIMEOUT),
    PELORIN_CODE(ERROR_WINHTTP_INTERNAL_ERROR),
    PELORIN_CODE(ERROR_WINHTTP_INVALID_URL),
    PELORIN_CODE(ERROR_WINHTTP_UNRECOGNIZED_SCHEME),
    PELORIN_CODE(ERROR_WINHTTP_NAME_NOT_RESOLVED),
    PELORIN_CODE(ERROR_WINHTTP_INVALID_OPTION),
    PELORIN_CODE(ERROR_WINHTTP_OPTION_NOT_SETTABLE),
    PELORIN_CODE(ERROR_WINHTTP_SHUTDOWN),
    PELORIN_CODE(ERROR_WINHTTP_LOGIN_FAILURE),
    PELORIN_CODE(ERROR_WINHTTP_OPERATION_CANCELLED),
    PELORIN_CODE(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE),
    PELORIN_CODE(ERROR_WINHTTP_INCORRECT_HANDLE_STATE),
    PELORIN_CODE(ERROR_WINHTTP_CANNOT_CONNECT),
    PELORIN_CODE(ERROR_WINHTTP_CONNECTION_ERROR),
    PELORIN_CODE(ERROR_WINHTTP_RESEND_REQUEST),
    PELORIN_CODE(ERROR_WINHTTP_SECURE_CERT_DATE_INVALID),
    PELORIN_CODE(ERROR_WINHTTP_SECURE_CERT_CN_INVALID),
    PELORIN_CODE(ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED),
    PELORIN_CODE(ERROR_WINHTTP_SECURE_INVALID_CA),
    PELORIN_CODE(ERROR_WINHTTP_SECURE_CERT_REV_FAILED),
    PELORIN_CODE(ERROR_WINHTTP_CANNOT_CALL_BEFORE_OPEN),
    PELORIN_CODE(ERROR_WINHTTP_CANNOT_CALL_BEFORE_SEND),
    PELORIN_CODE(ERROR_WINHTTP_CANNOT_CALL_AFTER_SEND),
    PELORIN_CODE(ERROR_WINHTTP_CANNOT_CALL_AFTER_OPEN),
    PELORIN_CODE(ERROR_WINHTTP_HEADER_NOT_FOUND),
    PELORIN_CODE(ERROR_WINHTTP_INVALID_SERVER_RESPONSE),
    PELORIN_CODE(ERROR_WINHTTP_INVALID_HEADER),
    PELORIN_CODE(ERROR_WINHTTP_INVALID_QUERY_REQUEST),
    PELORIN_CODE(ERROR_WINHTTP_HEADER_ALREADY_EXISTS),
    PELORIN_CODE(ERROR_WINHTTP_REDIRECT_FAILED),
    PELORIN_CODE(ERROR_WINHTTP_SECURE_CHANNEL_ERROR),
    PELORIN_CODE(ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT),
    PELORIN_CODE(ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT),
    PELORIN_CODE(ERROR_WINHTTP_SECURE_INVALID_CERT),
    PELORIN_CODE(ERROR_WINHTTP_SECURE_CERT_REVOKED),
    PELORIN_CODE(ERROR_WINHTTP_NOT_INITIALIZED),
    PELORIN_CODE(ERROR_WINHTTP_SECURE_FAILURE),
    PELORIN_CODE(ERROR_WINHTTP_UNHANDLED_SCRIPT_TYPE),
    PELORIN_CODE(ERROR_WINHTTP_SCRIPT_EXECUTION_ERROR),
    PELORIN_CODE(ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR),
    PELORIN_CODE(ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE),
    PELORIN_CODE(ERROR_WINHTTP_AUTODETECTION_FAILED),
    PELORIN_CODE(ERROR_WINHTTP_HEADER_COUNT_EXCEEDED),
    PELORIN_CODE(ERROR_WINHTTP_HEADER_SIZE_OVERFLOW),
    PELORIN_CODE(ERROR_WINHTTP_CHUNKED_ENCODING_HEADER_SIZE_OVERFLOW),
    PELORIN_CODE(ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW),
    PELORIN_CODE(ERROR_WINHTTP_CLIENT_CERT_NO_PRIVATE_KEY),
    PELORIN_CODE(ERROR_WINHTTP_CLIENT_CERT_NO_ACCESS_PRIVATE_KEY),
    PELORIN_CODE(ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED_PROXY),
    PELORIN_CODE(ERROR_WINHTTP_SECURE_FAILURE_PROXY),
    PELORIN_CODE(ERROR_WINHTTP_HTTP_PROTOCOL_MISMATCH),
};
#undef PELORIN_CODE

constexpr DWORD kFormatFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;  // with the source flag
static_assert((kFormatFlags | FORMAT_MESSAGE_FROM_SYSTEM) == 0x1300);

// The message of `code` in the system's table (module null) or in a module's; empty when
// that table has none.
std::string table_text(DWORD code, HMODULE module) {
    wchar_t* buffer = nullptr;
    const DWORD flags = kFormatFlags | (module != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);
    const DWORD length =
        FormatMessageW(flags, module, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (length != 0 && buffer != nullptr) {
        try {
            text = utf16_to_utf8(std::wstring_view(buffer, length));
        } catch (...) {
            LocalFree(buffer);
            throw;
        }
    }
    if (buffer != nullptr) LocalFree(buffer);
    return text;
}

bool is_winhttp_code(DWORD code) { return code >= WINHTTP_ERROR_BASE && code <= WINHTTP_ERROR_BASE + 999; }

}  // namespace

std::wstring utf8_to_utf16(std::string_view text) {
    if (text.empty()) return {};
    if (text.size() > static_cast<std::size_t>(INT_MAX)) throw std::length_error("text too long to convert");
    const int size = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    if (units <= 0) return {};
    std::wstring out(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), units);
    return out;
}

std::string utf16_to_utf8(std::wstring_view text) {
    if (text.empty()) return {};
    if (text.size() > static_cast<std::size_t>(INT_MAX)) throw std::length_error("text too long to convert");
    const int size = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::string windows_error_text(std::uint32_t code) {
    std::string text = table_text(code, nullptr);
    if (text.empty() && is_winhttp_code(code)) {
        // WinHTTP keeps its messages in its own module, which the transport has loaded.
        if (HMODULE winhttp = GetModuleHandleW(L"winhttp.dll")) text = table_text(code, winhttp);
        if (text.empty()) {
            for (const CodeName& entry : kWinHttpCodeNames) {
                if (entry.code == code) text = entry.name;
            }
        }
    }
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (text.empty()) text = "unknown Windows error";
    return "Windows error " + std::to_string(code) + " (" + text + ")";
}

std::string last_error_text() { return windows_error_text(GetLastError()); }

}  // namespace pelorin
