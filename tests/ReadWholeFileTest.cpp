#include "copy/OpenSaveFile.h"
#include "platform/PlatformError.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>

struct ReadRow {
    const char* name;
    std::string bytes;
    std::u16string text;
    // Where the host's code page is not UTF-8 (Windows, 1252 under Wine): the text there.
    std::optional<std::u16string> codePage1252 = std::nullopt;
};

class ReadWholeFileTest : public testing::TestWithParam<ReadRow> {};

TEST_P(ReadWholeFileTest, readsAsTheFirstByteSays) {
    TempDir dir;
    writeFile(dir / "list.txt", GetParam().bytes);
    FaultyFileServices files;
    const bool utf8Host = hostIsUtf8();
    EXPECT_EQ(ReadWholeFile(files, win(dir / "list.txt")),
              utf8Host ? GetParam().text : GetParam().codePage1252.value_or(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReadWholeFileTest,
    testing::Values(
        ReadRow{"zeroLength", "", u"empty file"},
        ReadRow{"utf8", "a\r\nb\xC3\xA9\n", u"a\r\nb\u00E9\n"},
        ReadRow{"utf8MarkDropped", "\xEF\xBB\xBFx", u"x"},
        ReadRow{"latin1Kept", "caf\xE9", u"caf\xDCE9", u"caf\u00E9"},
        ReadRow{"markedIsUtf8Throughout", "\xEF\xBB\xBF\xC3\xA9\xE9", u"\u00E9\xDCE9"},
        ReadRow{"nulKept", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        ReadRow{"utf16MarkKept",
                std::string("\xFF\xFE"
                            "a\0\x0A\0",
                            6),
                u"\uFEFFa\n"},
        ReadRow{"bigEndianMarkReadAsLittle", std::string("\xFE\xFF\0a", 4), u"\xFFFE\x6100"},
        ReadRow{"oddLastByteDropped", std::string("\xFF\xFEZ\0x", 5), u"\uFEFFZ"},
        ReadRow{"loneSurrogateKept", std::string("\xFF\xFE\x00\xD8", 4), u"\uFEFF\xD800"},
        // Read in pieces of 64 KiB: a character cut by a piece's end is still one character.
        ReadRow{"utf8AcrossPieces", std::string(65535, 'a') + "\xC3\xA9\xE2",
                std::u16string(65535, u'a') + u"\u00E9\xDCE2",
                std::u16string(65535, u'a') + u"\u00C3\u00A9\u00E2"},
        // No UTF-8 only past the first piece: read again, from the start, in the code page.
        ReadRow{"notUtf8PastAPiece", std::string(65536, 'a') + "\xC3\xA9\xE9",
                std::u16string(65536, u'a') + u"\u00E9\xDCE9",
                std::u16string(65536, u'a') + u"\u00C3\u00A9\u00E9"},
        ReadRow{"utf16AcrossPieces", "\xFF\xFE" + std::string(65535, 'a') + std::string(1, '\0'),
                u"\uFEFF" + std::u16string(32767, u'\x6161') + u"\x0061"}),
    [](const auto& info) { return info.param.name; });

// File services whose first read hands out 3 bytes at most, as a slow file system may.
class ShortFirstRead : public FaultyFileServices {
    std::unique_ptr<InputFile> openForReading(std::u16string_view path) override {
        class Short : public InputFile {
          public:
            explicit Short(std::unique_ptr<InputFile> real) : m_real(std::move(real)) {}
            std::size_t read(char* buffer, std::size_t size) override {
                return m_real->read(buffer, std::exchange(m_first, false) ? 3 : size);
            }

          private:
            std::unique_ptr<InputFile> m_real;
            bool m_first = true;
        };
        return std::make_unique<Short>(FaultyFileServices::openForReading(path));
    }
};

TEST(ReadWholeFilePieces, aMarkIsDroppedAtTheStartOfTheFileOnly) {
    TempDir dir;
    writeFile(dir / "list.txt", "\xEF\xBB\xBF\xEF\xBB\xBFx");
    ShortFirstRead files;
    EXPECT_EQ(ReadWholeFile(files, win(dir / "list.txt")), u"\uFEFFx");
}

TEST(ReadWholeFileFailures, missingIsEmptyAndReadFailuresPassOn) {
    TempDir dir;
    FaultyFileServices files;
    EXPECT_EQ(ReadWholeFile(files, win(dir / "missing.txt")), u"");
    EXPECT_EQ(ReadWholeFile(files, u"C:\\other-drive.txt"), u"");

    writeFile(dir / "list.txt", "x");
    files.failOn("openForReading");
    EXPECT_THROW(ReadWholeFile(files, win(dir / "list.txt")), PlatformError);

    // A length past 32 bits must not pass for an empty file.
    files.failOn("");
    files.lengthOverride = 0x100000000LL;
    EXPECT_THROW(ReadWholeFile(files, win(dir / "list.txt")), PlatformError);
}
