// identity.bin on Windows: exactly the bytes CryptProtectData gives for the identity text,
// described "PelorinWorker"; anything that does not unprotect reads as no identity.
#include <windows.h>
#include <dpapi.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "coordinator/identity.hpp"
#include "coordinator/identity_store.hpp"
#include "scoped_env.hpp"

namespace pelorin {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::TempDataFolder;
using test::write_file;

struct Unprotected {
    bool ok = false;
    std::string text;
    std::wstring description;
};

Unprotected unprotect(const std::string& bytes) {
    DATA_BLOB in{static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
    DATA_BLOB out{};
    wchar_t* description = nullptr;
    Unprotected result;
    result.ok = CryptUnprotectData(&in, &description, nullptr, nullptr, nullptr, 0, &out) != 0;
    if (result.ok) result.text.assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
    if (description != nullptr) result.description = description;
    LocalFree(out.pbData);
    LocalFree(description);
    return result;
}

TEST(IdentityStore, FileHoldsTheProtectedTextDescribedPelorinWorker) {
    TempDataFolder data;
    const std::string text = identity_text({"0123456789abcdef0123456789abcdef", "w-17", "secret-token-17"});
    write_identity_text(text);
    const std::string stored = read_file(data.folder() / "identity.bin");
    EXPECT_EQ(stored.find("secret-token-17"), std::string::npos) << "the token is stored in the clear";
    const Unprotected plain = unprotect(stored);
    ASSERT_TRUE(plain.ok) << "identity.bin is not data-protection output";
    EXPECT_EQ(plain.text, text);
    EXPECT_EQ(plain.description, L"PelorinWorker");
    EXPECT_EQ(read_identity_text(), text);
    EXPECT_FALSE(fs::exists(data.folder() / "identity.bin.tmp"));
}

TEST(IdentityStore, UnprotectableFileIsNoIdentity) {
    using namespace std::string_literals;
    const std::string cases[] = {
        R"({"client_id":"c","worker_id":"w","token":"t"})",  // plain text, as the POSIX store keeps it
        "",
        "\x01\x00\x00\x00\xd0\x8c\x9d\xdf not quite protected"s,  // begins like protected data
    };
    for (const std::string& bytes : cases) {
        TempDataFolder data;
        write_file(data.folder() / "identity.bin", bytes);
        EXPECT_EQ(read_identity_text(), "") << bytes;
        const WorkerIdentity fresh = load_identity();
        EXPECT_EQ(fresh.client_id.size(), 32u) << bytes;
        EXPECT_TRUE(fresh.token.empty()) << bytes;
    }
}

}  // namespace
}  // namespace pelorin
