#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "wideint/decimal.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin {
namespace {

constexpr std::uint64_t kMax = ~std::uint64_t{0};

struct Accepted {
    const char* text;
    U128 value;
};

TEST(ParseU128, AcceptedForms) {
    const Accepted cases[] = {
        {" 0x1F ", {31, 0}},
        {"0X10", {16, 0}},
        {"12 34", {1234, 0}},
        {"\t\n7\r\v\f", {7, 0}},
        {"2^0", {1, 0}},
        {"2^64", {0, 1}},
        {"2^127", {0, std::uint64_t{1} << 63}},
        {"000123", {123, 0}},
        {"0x00ff", {255, 0}},
        {"340282366920938463463374607431768211455", {kMax, kMax}},
        {"0xffffffffffffffffffffffffffffffff", {kMax, kMax}},
        {"18446744073709551616", {0, 1}},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_u128(c.text), c.value) << "text: [" << c.text << "]";
}

struct Refused {
    const char* text;
    const char* message;
    bool overflow;  // overflow_error rather than invalid_argument
};

TEST(ParseU128, RefusedFormsCarryTheirMessages) {
    const Refused cases[] = {
        {"", "empty integer", false},
        {" \t ", "empty integer", false},
        {"3^4", "only 2^k notation is supported", false},
        {"02^4", "only 2^k notation is supported", false},
        {"2^", "invalid power expression", false},
        {"2^1^2", "invalid power expression", false},
        {"2^+1", "invalid power expression", false},
        {"2^128", "invalid power expression", false},
        {"2^4294967296", "invalid power expression", false},
        {"0x", "integer exceeds 128 bits or is malformed", true},
        {"-1", "integer exceeds 128 bits or is malformed", true},
        {"+1", "integer exceeds 128 bits or is malformed", true},
        {"12a", "integer exceeds 128 bits or is malformed", true},
        {"0x1g", "integer exceeds 128 bits or is malformed", true},
        {"340282366920938463463374607431768211456", "integer exceeds 128 bits or is malformed", true},
        {"0x100000000000000000000000000000000", "integer exceeds 128 bits or is malformed", true},
        {"999999999999999999999999999999999999999", "integer exceeds 128 bits or is malformed", true},
    };
    for (const auto& c : cases) {
        try {
            parse_u128(c.text);
            ADD_FAILURE() << "accepted: [" << c.text << "]";
        } catch (const std::overflow_error& e) {
            EXPECT_TRUE(c.overflow) << c.text;
            EXPECT_STREQ(e.what(), c.message) << c.text;
        } catch (const std::invalid_argument& e) {
            EXPECT_FALSE(c.overflow) << c.text;
            EXPECT_STREQ(e.what(), c.message) << c.text;
        }
    }
}

TEST(ParseEndBound, TheFourSpellingsOf2To128) {
    for (const char* t : {"2^128", "340282366920938463463374607431768211456", "0x100000000000000000000000000000000",
                          " 0X100000000000000000000000000000000 "}) {
        const EndBound b = parse_end_bound(t);
        EXPECT_TRUE(b.end_is_2_128) << t;
        EXPECT_EQ(b.value, U128{}) << t;
    }
    const EndBound plain = parse_end_bound("101");
    EXPECT_FALSE(plain.end_is_2_128);
    EXPECT_EQ(plain.value, (U128{101, 0}));
    EXPECT_THROW(parse_end_bound("2^0128"), std::invalid_argument);
    EXPECT_THROW(parse_end_bound("0340282366920938463463374607431768211456"), std::overflow_error);
}

TEST(ParseBiguint, RoundTripsAndRefusals) {
    EXPECT_EQ(parse_biguint("18446744073709551616").limbs(), (std::vector<std::uint64_t>{0, 1}));
    EXPECT_EQ(biguint_to_decimal(parse_biguint("18446744073709551616")), "18446744073709551616");
    const std::string big = "1234567890123456789012345678901234567890123456789";
    EXPECT_EQ(biguint_to_decimal(parse_biguint(big)), big);
    EXPECT_TRUE(parse_biguint("000").is_zero());
    try {
        parse_biguint("");
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "empty arbitrary-width integer");
    }
    for (const char* bad : {" 1", "1 ", "-1", "0x1", "1e5"}) {
        try {
            parse_biguint(bad);
            ADD_FAILURE() << bad;
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "invalid arbitrary-width integer") << bad;
        }
    }
}

}  // namespace
}  // namespace pelorin
