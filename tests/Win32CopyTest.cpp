#include "platform/PlatformError.h"
#include "platform/win32/Win32FileServices.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <windows.h>

namespace fs = std::filesystem;

class Win32CopyTest : public testing::Test {
  protected:
    void SetUp() override {
        writeFile(dir / "source.txt", "new content");
        fs::create_directory(dir / "out");
        writeFile(dir / "out/plain.txt", "old");
    }
    std::string copy(const std::string& target) {
        return copyOutcome(files, win(dir / "source.txt"), win(dir / target));
    }
    void at(CopyPoint point, std::function<void()> action) {
        files.copySeams().at = [point, action](CopyPoint reached) {
            if (reached == point)
                action();
        };
    }

    TempDir dir;
    Win32FileServices files;
};

// Wine refuses neither hidden targets nor, for an administrator, read-only ones: these
// refusals are the copy's own.
TEST_F(Win32CopyTest, refusalsSayWhyAndWriteNothing) {
    writeFile(dir / "out/readonly.txt", "keep");
    ::SetFileAttributesW((dir / "out/readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    writeFile(dir / "out/hidden.txt", "keep");
    ::SetFileAttributesW((dir / "out/hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    fs::create_directory(dir / "out/folder");
    EXPECT_EQ(copy("out/readonly.txt"), refused(Refusal::ReadOnly));
    EXPECT_EQ(copy("out/hidden.txt"), refused(Refusal::Hidden));
    EXPECT_EQ(copy("out/folder"), refused(Refusal::Folder));
    EXPECT_EQ(copy("source.txt"), refused(Refusal::SameFile));
    ::SetFileAttributesW((dir / "out/readonly.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(readFile(dir / "out/readonly.txt"), "keep");
    EXPECT_EQ(readFile(dir / "out/hidden.txt"), "keep");
    EXPECT_EQ(readFile(dir / "source.txt"), "new content");
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

// Whatever is swapped between a check and its use, the target keeps what was there and no
// temporary file stays.
TEST_F(Win32CopyTest, swapsAndChangesBetweenCheckAndUseWriteNothing) {
    // Another file moved over the name. (Under Wine a file deleted and made anew can take the
    // old one's index even while we hold it open; Windows keeps the name until we let go.)
    at(CopyPoint::BeforeLastCheck, [&] {
        writeFile(dir / "out/other.txt", "theirs");
        fs::rename(dir / "out/other.txt", dir / "out/plain.txt");
    });
    EXPECT_NE(copy("out/plain.txt"), "copied");
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "theirs");

    at(CopyPoint::BeforeLastCheck, [&] { writeFile(dir / "out/new.txt", "theirs"); });
    EXPECT_NE(copy("out/new.txt"), "copied");
    EXPECT_EQ(readFile(dir / "out/new.txt"), "theirs");

    at(CopyPoint::ContentCopied, [&] { std::ofstream(dir / "source.txt", std::ios::app) << "+"; });
    EXPECT_EQ(copy("out/plain.txt"), refused(Refusal::SourceChanged));
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "theirs");

    files.copySeams().at = {};
    EXPECT_EQ(copy("out/plain.txt"), "copied");
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "new content+");
    EXPECT_TRUE(leftovers(dir.path()).empty());
}
