// resource-probe.exe VERSION FILE...: checks what Windows reads from each program file's
// resources: the version resource (GetFileVersionInfoW) carries VERSION, given as
// major.minor.patch, both as the fixed file and product versions (major.minor.patch.0) and as
// the FileVersion and ProductVersion texts of its first translation; and the file has an icon
// for the shell to show. Prints what it read, one line per file. Exit status: 0 every file
// matches, 1 one does not, 2 bad arguments.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::wstring fixed_version(DWORD most, DWORD least) {
    return std::to_wstring(HIWORD(most)) + L"." + std::to_wstring(LOWORD(most)) + L"." +
           std::to_wstring(HIWORD(least)) + L"." + std::to_wstring(LOWORD(least));
}

std::wstring text_value(const std::vector<char>& block, const std::wstring& translation, const wchar_t* name) {
    const std::wstring path = L"\\StringFileInfo\\" + translation + L"\\" + name;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || length == 0) return L"(none)";
    return static_cast<const wchar_t*>(value);
}

// Prints the file's line and whether it matches.
bool check(const std::wstring& file, const std::wstring& version) {
    std::wstring read = file + L":";
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    std::vector<char> block(size);
    void* value = nullptr;
    UINT length = 0;
    bool ok = size != 0 && GetFileVersionInfoW(file.c_str(), 0, size, block.data()) &&
              VerQueryValueW(block.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO);
    if (!ok) {
        std::wprintf(L"%ls no version resource (error %lu)\n", read.c_str(), GetLastError());
        return false;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    const std::wstring file_fixed = fixed_version(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
    const std::wstring product_fixed = fixed_version(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
    read += L" fixed file " + file_fixed + L", fixed product " + product_fixed;
    ok = fixed->dwSignature == VS_FFI_SIGNATURE && file_fixed == version + L".0" && product_fixed == version + L".0";

    std::wstring translation = L"(none)";
    if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) && length >= 4) {
        const auto* pair = static_cast<const WORD*>(value);
        wchar_t hex[9];
        std::swprintf(hex, 9, L"%04x%04x", pair[0], pair[1]);
        translation = hex;
    }
    const std::wstring file_text = text_value(block, translation, L"FileVersion");
    const std::wstring product_text = text_value(block, translation, L"ProductVersion");
    read += L", FileVersion \"" + file_text + L"\", ProductVersion \"" + product_text + L"\"";
    ok = ok && file_text == version && product_text == version;

    const UINT icons = ExtractIconExW(file.c_str(), -1, nullptr, nullptr, 0);
    read += L", " + std::to_wstring(icons) + L" icon(s)";
    ok = ok && icons > 0;

    if (!ok) read += L"  <- expected version " + version + L" and an icon";
    std::wprintf(L"%ls\n", read.c_str());
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: resource-probe VERSION FILE...\n");
        return 2;
    }
    bool all = true;
    for (int i = 2; i < argc; ++i) all = check(argv[i], argv[1]) && all;
    return all ? 0 : 1;
}
