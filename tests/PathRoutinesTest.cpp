#include "copy/Main.h"
#include "shared/SharedRoutines.h"

#include <gtest/gtest.h>

struct PathRow {
    std::u16string in;
    std::u16string out;
};

class TidySeparatorsTest : public testing::TestWithParam<PathRow> {};

TEST_P(TidySeparatorsTest, foldsRuns) {
    EXPECT_EQ(TidySeparators(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Rows, TidySeparatorsTest,
                         testing::Values(PathRow{u"", u""}, PathRow{u"C:\\a\\b", u"C:\\a\\b"},
                                         PathRow{u"C:\\a\\\\b", u"C:\\a\\b"},       // 2 -> 1
                                         PathRow{u"C:\\a\\\\\\b", u"C:\\a\\\\b"},   // 3 -> 2
                                         PathRow{u"C:\\a\\\\\\\\b", u"C:\\a\\\\b"}, // 4 -> 2
                                         PathRow{u"a\\\\", u"a\\"}, PathRow{u"C:/a//b", u"C:/a//b"},
                                         PathRow{u"\\a", u"\\\\a"},
                                         PathRow{u"\\\\srv\\s", u"\\\\srv\\s"},
                                         PathRow{u"\\\\\\\\srv\\\\x", u"\\\\srv\\x"},
                                         PathRow{u"\\", u"\\\\"}, PathRow{u"\\\\\\", u"\\\\"}));

class FolderOfTest : public testing::TestWithParam<PathRow> {};

TEST_P(FolderOfTest, keepsUpToTheLastSeparator) {
    EXPECT_EQ(FolderOf(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Rows, FolderOfTest,
                         testing::Values(PathRow{u"", u""}, PathRow{u"a.txt", u""},
                                         PathRow{u"C:/x/a.txt", u""},
                                         PathRow{u"C:\\x\\a.txt", u"C:\\x\\"},
                                         PathRow{u"C:\\x\\", u"C:\\x\\"},
                                         PathRow{u"\\\\s\\h\\a", u"\\\\s\\h\\"}));
