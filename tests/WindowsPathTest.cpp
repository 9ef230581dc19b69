#include "platform/posix/WindowsPath.h"
#include "platform/PlatformError.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

struct MapRow {
    const char* name;
    std::u16string windows;
    std::string host; // "CWD" stands for the current folder
};

class MapTest : public testing::TestWithParam<MapRow> {};

TEST_P(MapTest, mapsLikeWindows) {
    const MapRow& row = GetParam();
    std::string expected = row.host;
    if (expected.starts_with("CWD")) {
        const std::string cwd = std::filesystem::current_path().string();
        expected = (cwd == "/" ? "" : cwd) + expected.substr(3);
    }
    EXPECT_EQ(toHostPath(row.windows), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MapTest,
    testing::Values(MapRow{"driveZ", u"Z:\\home\\ann\\a.txt", "/home/ann/a.txt"},
                    MapRow{"lowerDrive", u"z:\\a", "/a"}, MapRow{"root", u"Z:\\", "/"},
                    MapRow{"forwardSlashes", u"Z:/a/b", "/a/b"},
                    MapRow{"dotSegments", u"Z:\\a\\.\\b\\..\\c", "/a/c"},
                    MapRow{"aboveRoot", u"Z:\\..\\..\\a", "/a"},
                    MapRow{"doubledSeparator", u"Z:\\a\\\\b", "/a/b"},
                    MapRow{"trailingDotsAndSpaces", u"Z:\\a\\b.txt. .", "/a/b.txt"},
                    MapRow{"innerDotsStay", u"Z:\\a.\\b", "/a./b"},
                    MapRow{"trailingSeparatorKept", u"Z:\\a\\", "/a/"},
                    MapRow{"rooted", u"\\etc\\x", "/etc/x"}, MapRow{"relative", u"x\\y", "CWD/x/y"},
                    MapRow{"driveRelative", u"Z:y", "CWD/y"},
                    MapRow{"longPathPrefix", u"\\\\?\\Z:\\a\\b", "/a/b"},
                    MapRow{"latin1Byte", u"Z:\\caf\xDCE9", "/caf\xE9"},
                    MapRow{"unicode", u"Z:\\\u00E9t\u00E9", "/\xC3\xA9t\xC3\xA9"}),
    [](const auto& info) { return info.param.name; });

TEST(WindowsPathTest, pathsWithNoHostFormAreNotFound) {
    for (const std::u16string& path :
         {std::u16string(u"C:\\a"), std::u16string(u"\\\\server\\share\\a"),
          std::u16string(u"Z:\\a\0b", 6), std::u16string(u"Z:\\a\xD800"), std::u16string(u""),
          std::u16string(u"Z:\\a*\\b"), std::u16string(u"Z:\\a?")}) {
        try {
            toHostPath(path);
            ADD_FAILURE() << "mapped: " << narrow(path);
        } catch (const PlatformError& error) {
            EXPECT_TRUE(error.isNotFound()) << narrow(path);
        }
    }
    EXPECT_EQ(toHostPath(u"Z:\\a\\*.txt", true), "/a/*.txt");
    EXPECT_THROW(toHostPath(u"Z:\\a*\\b.txt", true), PlatformError);
}

TEST(WindowsPathTest, hostPathsComeBackInWindowsForm) {
    EXPECT_EQ(toWindowsPath("/"), u"Z:\\");
    EXPECT_EQ(toWindowsPath("/usr/lib/quorvane"), u"Z:\\usr\\lib\\quorvane");
    EXPECT_EQ(toWindowsPath("/caf\xE9"), u"Z:\\caf\xDCE9");
}

struct NativeRow {
    const char* name;
    std::u16string native;
    std::optional<std::u16string> windows;
};

class NativeTest : public testing::TestWithParam<NativeRow> {};

// A name Windows rules cannot carry is skipped, never turned into another name.
TEST_P(NativeTest, hostPathsInAListTakeWindowsFormOrNone) {
    EXPECT_EQ(nativeToWindows(GetParam().native), GetParam().windows);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NativeTest,
    testing::Values(NativeRow{"plain", u"/home/ann/lin-1.txt", u"Z:\\home\\ann\\lin-1.txt"},
                    NativeRow{"folder", u"/home/ann/", u"Z:\\home\\ann\\"},
                    NativeRow{"doubledSlash", u"/a//b", u"Z:\\a\\b"},
                    NativeRow{"tabKept", u"/a/b\t", u"Z:\\a\\b\t"},
                    NativeRow{"backslash", u"/a/b\\c", std::nullopt},
                    NativeRow{"star", u"/a/*.txt", std::nullopt},
                    NativeRow{"question", u"/a/report?.txt", std::nullopt},
                    NativeRow{"trailingDot", u"/a./b", std::nullopt},
                    NativeRow{"trailingSpace", u"/a/b ", std::nullopt},
                    NativeRow{"threeDots", u"/a/.../b", std::nullopt},
                    NativeRow{"dotSegmentsResolved", u"/a/./t/../b", u"Z:\\a\\b"},
                    NativeRow{"upToTheRoot", u"/a/..", u"Z:\\"}),
    [](const auto& info) { return info.param.name; });
