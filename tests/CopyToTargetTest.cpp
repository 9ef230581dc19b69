#include "copy/Main.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#ifndef _WIN32
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

class CopyToTargetTest : public testing::Test {
  protected:
    void SetUp() override {
        writeFile(dir / "source.txt", "new content");
        fs::create_directory(dir / "out");
    }
    void copy(std::u16string_view source, std::u16string_view target) {
        CopyToTarget(files, source, target);
    }
    std::u16string source() const { return win(dir / "source.txt"); }
    bool onlyFiles(const fs::path& folder, std::set<std::string> names) {
        std::set<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder))
            found.insert(entry.path().filename().string());
        return found == names;
    }

    TempDir dir;
    FaultyFileServices files;
};

TEST_F(CopyToTargetTest, copiesAndReplacesWithTheSourceTime) {
    writeFile(dir / "out/old.txt", "old");
    copy(source(), win(dir / "out/new.txt"));
    copy(source(), win(dir / "out/old.txt"));
    EXPECT_EQ(readFile(dir / "out/new.txt"), "new content");
    EXPECT_EQ(readFile(dir / "out/old.txt"), "new content");
    EXPECT_EQ(fs::last_write_time(dir / "out/old.txt"), fs::last_write_time(dir / "source.txt"));
    EXPECT_TRUE(onlyFiles(dir / "out", {"new.txt", "old.txt"})) << "no temporary file is left";
}

TEST_F(CopyToTargetTest, bothProbesRunInOrderEvenWhenTheSourceIsMissing) {
    copy(win(dir / "missing.txt"), win(dir / "out/a.txt"));
    ASSERT_EQ(files.calls.size(), 2u);
    EXPECT_EQ(files.calls[0].rfind("openExisting:", 0), 0u);
    EXPECT_EQ(files.calls[1], "probeFolder:" + narrow(win(dir / "out")) + "\\");
    EXPECT_FALSE(fs::exists(dir / "out/a.txt"));
}

TEST_F(CopyToTargetTest, targetsWithoutAnExistingFolderCopyNothing) {
    {
        const InFolder inDir(dir.path());
        copy(source(), u"bare.txt");
        std::u16string slashes = win(dir / "out/slash.txt");
        std::replace(slashes.begin(), slashes.end(), u'\\', u'/');
        copy(source(), slashes);
        copy(source(), win(dir / "nofolder/a.txt"));
        copy(u"   ", win(dir / "out/a.txt"));
        copy(source(), u"  ");
        copy(source(), win(dir / "out") + u"\\" + std::u16string(32768, u'a'));
    }
    EXPECT_TRUE(onlyFiles(dir.path(), {"source.txt", "out"}));
    EXPECT_TRUE(onlyFiles(dir / "out", {}));
    EXPECT_EQ(files.calls.size(), 6u) << "blank and overlong names reach no probe";
}

TEST_F(CopyToTargetTest, folderTargetsRelativeTargetsAndSpacesInPaths) {
    copy(source(), win(dir / "out") + u"\\");
    EXPECT_EQ(readFile(dir / "out/source.txt"), "new content");

    {
        const InFolder inDir(dir.path());
        copy(source(), u"out\\relative.txt");
    }
    EXPECT_EQ(readFile(dir / "out/relative.txt"), "new content");

    // Spaces stay part of the source; only a trailing run is dropped by the platform.
    copy(u" " + source(), win(dir / "out/lead.txt"));
    EXPECT_FALSE(fs::exists(dir / "out/lead.txt"));
    copy(source() + u"  ", win(dir / "out/trail.txt"));
    EXPECT_TRUE(fs::exists(dir / "out/trail.txt"));
}

TEST_F(CopyToTargetTest, aFolderAsSourceCopiesNothing) {
    copy(win(dir / "out"), win(dir / "out/b.txt"));
    EXPECT_TRUE(onlyFiles(dir / "out", {}));
}

TEST_F(CopyToTargetTest, wildcardSourcesCopyEveryOrdinaryMatchIntoTheTargetFolder) {
    fs::create_directory(dir / "src");
    writeFile(dir / "src/a.log", "A");
    writeFile(dir / "src/b.log", "B");
    writeFile(dir / "src/noext", "N");
    writeFile(dir / "src/.hidden.log", "H");
    hide(dir / "src/.hidden.log");
    fs::create_directory(dir / "src/dir.log");
    copy(win(dir / "src/?.log"), win(dir / "out/ignored-name.txt"));
    EXPECT_TRUE(onlyFiles(dir / "out", {"a.log", "b.log"}));
    EXPECT_EQ(readFile(dir / "out/b.log"), "B");
    copy(win(dir / "src/*.*"), win(dir / "out") + u"\\");
    EXPECT_TRUE(onlyFiles(dir / "out", {"a.log", "b.log", "noext"}));
    copy(win(dir / "src/*.none"), win(dir / "out/x"));
    EXPECT_TRUE(onlyFiles(dir / "out", {"a.log", "b.log", "noext"}));
    fs::create_directory(dir / "bare");
    copy(win(dir / "src") + u"\\*.", win(dir / "bare") + u"\\");
    EXPECT_TRUE(onlyFiles(dir / "bare", {"noext"})) << "*. takes names without an extension";
}

TEST_F(CopyToTargetTest, theSourceItselfIsNeverATarget) {
    fs::create_hard_link(dir / "source.txt", dir / "out/hard.txt");
    const bool links = symlinkIfSupported(dir / "source.txt", dir / "out/soft.txt");
    const std::u16string folder = win(dir.path());
    std::vector<std::u16string> spellings = {folder + u"\\.\\source.txt",
                                             folder + u"\\out\\..\\source.txt",
                                             folder + u"\\\\source.txt", win(dir / "out/hard.txt")};
    if (links)
        spellings.push_back(win(dir / "out/soft.txt"));
    for (const std::u16string& spelling : spellings) {
        SCOPED_TRACE(narrow(spelling));
        // Writing the source over itself leaves the same bytes; a new file under its name or a
        // write in place would show in the file's identity or the outcome told.
        EXPECT_EQ(copyResult(files, source(), spelling, false), refused(Refusal::SameFile));
        copy(source(), spelling);
        EXPECT_TRUE(fs::equivalent(dir / "source.txt", dir / "out/hard.txt"));
        EXPECT_EQ(readFile(dir / "source.txt"), "new content");
    }
    EXPECT_EQ(fs::is_symlink(dir / "out/soft.txt"), links);
    EXPECT_TRUE(onlyFiles(dir.path(), {"source.txt", "out"}));
}

TEST_F(CopyToTargetTest, aLiveLinkIsWrittenThrough) {
    fs::create_directory(dir / "real");
    writeFile(dir / "real/file.txt", "old");
    if (!symlinkIfSupported(dir / "real/file.txt", dir / "out/link.txt"))
        GTEST_SKIP() << "no symbolic links on this host";
    copy(source(), win(dir / "out/link.txt"));
    EXPECT_TRUE(fs::is_symlink(dir / "out/link.txt"));
    EXPECT_EQ(readFile(dir / "real/file.txt"), "new content");
    EXPECT_TRUE(onlyFiles(dir / "real", {"file.txt"}));
}

// The cases below belong to the POSIX host: lossless names, FIFOs and mounts.
#ifndef _WIN32
TEST_F(CopyToTargetTest, namesAreNeverTruncatedOrGuessed) {
    const std::u16string out = win(dir / "out");
    copy(source(), out + std::u16string(u"\\a\0b.txt", 8));
    copy(source(), out + u"\\c\xD800.txt");
    copy(source(), out + u"\\d\xDC00.txt");
    EXPECT_TRUE(onlyFiles(dir / "out", {}));
    copy(source(), out + u"\\caf\xDCE9.txt");
    EXPECT_EQ(readFile(dir / "out/caf\xE9.txt"), "new content");
    copy(source(), out + u"\\\u00E9t\u00E9.txt");
    EXPECT_TRUE(fs::exists(dir / "out/\xC3\xA9t\xC3\xA9.txt"));
}

TEST_F(CopyToTargetTest, fifoAndDeviceSourcesAreNotFoundAndNeverBlock) {
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    copy(win(dir / "fifo"), win(dir / "out/a.txt"));
    copy(u"Z:\\dev\\null", win(dir / "out/b.txt"));
    EXPECT_TRUE(onlyFiles(dir / "out", {}));
    EXPECT_TRUE(files.findOrdinaryFiles(win(dir / "fifo"), 1).empty());
}

TEST_F(CopyToTargetTest, aFullDiskLeavesTheOldTargetWhole) {
    const fs::path small = dir / "small";
    fs::create_directory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << strerror(errno);
    // Gone at the end whatever happens, detached if still busy: no run leaves a mount behind.
    const std::unique_ptr<const char, void (*)(const char*)> mounted(
        small.c_str(), [](const char* at) {
            if (::umount(at) != 0)
                ::umount2(at, MNT_DETACH);
        });
    writeFile(small / "target.bin", std::string(300 * 1024, 'o'));
    writeFile(dir / "big.bin", std::string(2 * 1024 * 1024, 'n'));
    copy(win(dir / "big.bin"), win(small / "target.bin"));
    EXPECT_EQ(readFile(small / "target.bin"), std::string(300 * 1024, 'o'));
    EXPECT_TRUE(onlyFiles(small, {"target.bin"})) << "the temporary file is removed";
    files.makeDurable(); // lets go of the folder the probe held
    EXPECT_EQ(::umount(small.c_str()), 0) << "nothing left open in it: " << strerror(errno);
}
#endif
