#include "base/Text.h"

#include <gtest/gtest.h>

#include <random>

struct DecodeRow {
    const char* name;
    std::string bytes;
    std::u16string text;
};

class DecodeTest : public testing::TestWithParam<DecodeRow> {};

TEST_P(DecodeTest, decodesAndEncodesBack) {
    const DecodeRow& row = GetParam();
    EXPECT_EQ(decodeUtf8Lossless(row.bytes), row.text);
    EXPECT_EQ(encodeUtf8Lossless(row.text), row.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DecodeTest,
    testing::Values(DecodeRow{"ascii", "a\\b c", u"a\\b c"},
                    DecodeRow{"twoBytes", "caf\xC3\xA9", u"caf\u00E9"},
                    DecodeRow{"threeBytes", "\xE2\x82\xAC", u"\u20AC"},
                    DecodeRow{"astral", "\xF0\x9F\x98\x80", u"\U0001F600"},
                    DecodeRow{"latin1Byte", "caf\xE9", u"caf\xDCE9"},
                    DecodeRow{"overlong", "\xC0\x80", u"\xDCC0\xDC80"},
                    DecodeRow{"encodedSurrogate", "\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},
                    DecodeRow{"truncated", "\xE2\x82", u"\xDCE2\xDC82"},
                    DecodeRow{"beyondUnicode", "\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"}),
    [](const auto& info) { return info.param.name; });

// However a file's first read is cut, only a mark at its start is dropped; a second one stays.
TEST(TextTest, aByteOrderMarkIsDroppedAtTheStartOfTheFileOnly) {
    const std::string bytes = "\xEF\xBB\xBF\xEF\xBB\xBFx";
    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
        std::u16string text;
        const std::size_t used = appendUtf8Text(bytes.substr(0, cut), true, false, text);
        appendUtf8Text(std::string_view(bytes).substr(used), used == 0, true, text);
        EXPECT_EQ(text, u"\uFEFFx") << "first read of " << cut << " bytes";
    }
}

TEST(TextTest, anyByteStringSurvivesTheRoundTrip) {
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(random() % 12, '\0');
        for (char& byte : bytes)
            byte = static_cast<char>(random() % 255 + 1); // no NUL
        EXPECT_EQ(encodeUtf8Lossless(decodeUtf8Lossless(bytes)), bytes);
    }
}

TEST(TextTest, textNoHostNameCanCarryIsRefused) {
    EXPECT_FALSE(encodeUtf8Lossless(std::u16string(u"a\0b", 3)));
    EXPECT_FALSE(encodeUtf8Lossless(u"a\xD800"));
    EXPECT_FALSE(encodeUtf8Lossless(u"\xDC7F"));
    EXPECT_FALSE(encodeUtf8Lossless(u"\xDD00"));
    EXPECT_EQ(encodeUtf8Lossless(u"\xDC80"), "\x80");
}

TEST(TextTest, trimRemovesSpacesOnly) {
    EXPECT_EQ(trimSpaces(u"  a b  "), u"a b");
    EXPECT_EQ(trimSpaces(u"\ta\t "), u"\ta\t");
    EXPECT_EQ(trimSpaces(u"   "), u"");
    EXPECT_EQ(trimSpaces(u"\u00A0x\u3000"), u"\u00A0x\u3000");
}
