#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "sha256/sha256.hpp"

namespace pelorin {
namespace {

TEST(Sha256, KnownDigestsAcrossPaddingBoundaries) {
    struct Case {
        std::string input;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",  // 56 bytes: padding spills
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) EXPECT_EQ(sha256_hex(c.input), c.digest) << "length " << c.input.size();
}

TEST(Sha256, FileHashAndMissingFile) {
    // A name outside ASCII: on Windows the file opens only by its wide name (MinGW's narrow
    // path text is UTF-8, the narrow file functions read the ANSI code page).
    const auto path = std::filesystem::temp_directory_path() / std::filesystem::path(u8"pelorin_sha256_\u00fc.bin");
    {
        std::ofstream out(path, std::ios::binary);
        out << std::string("ab\0c\r\n", 6);
    }
    EXPECT_EQ(sha256_file_hex(path), sha256_hex(std::string("ab\0c\r\n", 6)));
    std::filesystem::remove(path);
    try {
        sha256_file_hex(path);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "cannot hash " + path.string());
    }
}

}  // namespace
}  // namespace pelorin
