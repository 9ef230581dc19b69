#include "platform/PlatformError.h"
#include "platform/posix/PosixFileServices.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct stat statOf(const fs::path& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info;
}

// The ACL as getfacl prints it, without its header.
std::string aclOf(const fs::path& path) {
    std::string text;
    FILE* pipe = ::popen(("getfacl -cp '" + path.string() + "' 2>&1").c_str(), "r");
    for (char buffer[256]; pipe && std::fgets(buffer, sizeof buffer, pipe);)
        text += buffer;
    if (pipe)
        ::pclose(pipe);
    return text;
}

void run(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

} // namespace

class PosixCopyTest : public testing::Test {
  protected:
    void SetUp() override {
        writeFile(dir / "source.txt", "new content");
        fs::create_directory(dir / "out");
        fs::create_directory(dir / "real");
        fs::create_directory(dir / "guarded");
        writeFile(dir / "out/plain.txt", "old");
        writeFile(dir / "real/file.txt", "old");
        writeFile(dir / "guarded/secret.txt", "secret");
        ::chmod((dir / "guarded/secret.txt").c_str(), 0440);
        fs::create_symlink(dir / "real/file.txt", dir / "out/link.txt");
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
    PosixFileServices files;
};

struct RaceRow {
    const char* name;
    CopyPoint point;
    const char* target;
    std::function<void(const fs::path&)> act;
    // Files and the content each must hold afterwards.
    std::vector<std::pair<const char*, const char*>> after;
};

class PosixCopyRaceTest : public PosixCopyTest, public testing::WithParamInterface<RaceRow> {};

// Whatever is swapped between a check and its use, only the checked file is ever written.
TEST_P(PosixCopyRaceTest, writesOnlyTheFileItChecked) {
    const RaceRow& row = GetParam();
    const ino_t sourceInode = statOf(dir / "source.txt").st_ino;
    at(row.point, [&] { row.act(dir.path()); });
    copy(row.target);
    for (const auto& [file, content] : row.after)
        EXPECT_EQ(readFile(dir / file), content) << file;
    EXPECT_EQ(statOf(dir / "guarded/secret.txt").st_mode & 07777, 0440u);
    EXPECT_EQ(statOf(dir / "source.txt").st_ino, sourceInode);
    EXPECT_EQ(statOf(dir / "source.txt").st_nlink, 1u);
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

void relink(const fs::path& link, const fs::path& to) {
    fs::remove(link);
    fs::create_symlink(to, link);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PosixCopyRaceTest,
    testing::Values(
        RaceRow{"linkRepointedAtAGuardedFile",
                CopyPoint::TargetChecked,
                "out/link.txt",
                [](const fs::path& d) { relink(d / "out/link.txt", d / "guarded/secret.txt"); },
                {{"real/file.txt", "new content"}, {"guarded/secret.txt", "secret"}}},
        RaceRow{"linkRepointedAtTheSource",
                CopyPoint::TargetChecked,
                "out/link.txt",
                [](const fs::path& d) { relink(d / "out/link.txt", d / "source.txt"); },
                {{"real/file.txt", "new content"}, {"source.txt", "new content"}}},
        RaceRow{"linkRepointedBeforeTheLastCheck",
                CopyPoint::BeforeLastCheck,
                "out/link.txt",
                [](const fs::path& d) { relink(d / "out/link.txt", d / "guarded/secret.txt"); },
                {{"real/file.txt", "new content"}, {"guarded/secret.txt", "secret"}}},
        RaceRow{"folderSwappedForALink",
                CopyPoint::TargetChecked,
                "out/plain.txt",
                [](const fs::path& d) {
                    fs::rename(d / "out", d / "moved");
                    fs::create_symlink(d / "guarded", d / "out");
                },
                {{"moved/plain.txt", "new content"}, {"guarded/secret.txt", "secret"}}},
        RaceRow{"checkedFileReplaced",
                CopyPoint::BeforeLastCheck,
                "out/plain.txt",
                [](const fs::path& d) {
                    writeFile(d / "out/other.txt", "other");
                    fs::rename(d / "out/other.txt", d / "out/plain.txt");
                },
                {{"out/plain.txt", "other"}}},
        RaceRow{"checkedFileMadeALinkToTheSource",
                CopyPoint::BeforeLastCheck,
                "out/plain.txt",
                [](const fs::path& d) { relink(d / "out/plain.txt", d / "source.txt"); },
                {{"source.txt", "new content"}}},
        RaceRow{"absentNameTakenMeanwhile",
                CopyPoint::BeforeLastCheck,
                "out/new.txt",
                [](const fs::path& d) { writeFile(d / "out/new.txt", "theirs"); },
                {{"out/new.txt", "theirs"}}}),
    [](const auto& info) { return info.param.name; });

TEST_F(PosixCopyTest, refusalsSayWhyAndWriteNothing) {
    writeFile(dir / "out/readonly.txt", "keep");
    ::chmod((dir / "out/readonly.txt").c_str(), 0444);
    writeFile(dir / "out/.hidden", "keep");
    fs::create_symlink(dir / "out/.hidden", dir / "out/to-hidden");
    fs::create_symlink(dir / "real/file.txt", dir / "out/.hidden-link");
    fs::create_symlink(dir / "out/nowhere", dir / "out/dangling");
    fs::create_directory(dir / "out/folder");
    ::mkfifo((dir / "out/fifo").c_str(), 0666);
    fs::create_hard_link(dir / "source.txt", dir / "out/hard.txt");
    const std::vector<std::pair<const char*, Refusal>> rows = {
        {"out/readonly.txt", Refusal::ReadOnly}, {"out/.hidden", Refusal::Hidden},
        {"out/to-hidden", Refusal::Hidden},      {"out/.hidden-link", Refusal::Hidden},
        {"out/dangling", Refusal::DanglingLink}, {"out/folder", Refusal::Folder},
        {"out/fifo", Refusal::NotRegular},       {"out/hard.txt", Refusal::SameFile},
    };
    for (const auto& [target, refusal] : rows)
        EXPECT_EQ(copy(target), refused(refusal)) << target;
    EXPECT_EQ(copyOutcome(files, win(dir / "out/fifo"), win(dir / "out/plain.txt")),
              refused(Refusal::NotRegular));
    EXPECT_EQ(readFile(dir / "out/.hidden"), "keep");
    EXPECT_EQ(readFile(dir / "real/file.txt"), "old");
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "old");
    EXPECT_FALSE(fs::exists(dir / "out/nowhere"));
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

struct ChangeRow {
    const char* name;
    std::size_t size;
    std::function<void(const fs::path& source)> change;
};

class PosixCopySourceTest : public PosixCopyTest, public testing::WithParamInterface<ChangeRow> {};

// A source that changes mid-copy fails the copy; the old target stays whole.
TEST_P(PosixCopySourceTest, aChangingSourceLeavesTheTargetAsItWas) {
    const ChangeRow& row = GetParam();
    const fs::path source = dir / "big.bin";
    bool changed = false;
    at(CopyPoint::ContentCopied, [&] {
        if (!std::exchange(changed, true))
            row.change(source);
    });
    for (const char* target : {"out/plain.txt", "out/absent.txt"}) {
        writeFile(source, std::string(row.size, 'n'));
        changed = false;
        EXPECT_EQ(copyOutcome(files, win(source), win(dir / target)),
                  refused(Refusal::SourceChanged));
    }
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "old");
    EXPECT_FALSE(fs::exists(dir / "out/absent.txt"));
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PosixCopySourceTest,
    testing::Values(ChangeRow{"truncated", 12 << 20,
                              [](const fs::path& s) { fs::resize_file(s, 1 << 20); }},
                    ChangeRow{"grown", 4096,
                              [](const fs::path& s) { std::ofstream(s, std::ios::app) << "more"; }},
                    ChangeRow{"rewrittenInPlace", 4096,
                              [](const fs::path& s) {
                                  const timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
                                  ::utimensat(AT_FDCWD, s.c_str(), times, 0);
                              }}),
    [](const auto& info) { return info.param.name; });

TEST_F(PosixCopyTest, aFileThatSaysItIsEmptyButIsNotFailsAndAnEmptyOneCopies) {
    EXPECT_EQ(copyOutcome(files, u"Z:\\proc\\self\\status", win(dir / "out/plain.txt")),
              refused(Refusal::SourceChanged));
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "old");
    writeFile(dir / "empty.txt", "");
    EXPECT_EQ(copyOutcome(files, win(dir / "empty.txt"), win(dir / "out/plain.txt")), "copied");
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "");
}

// Each way of naming the new file: anonymous through /proc, through AT_EMPTY_PATH, and a
// named temporary file where neither can be had.
TEST_F(PosixCopyTest, everyWayOfNamingTheNewFileCopiesAndLeavesNothing) {
    const std::vector<CopySeams> ways = {
        {}, {{}, false, true, false}, {{}, false, true, true}, {{}, true, false, false}};
    for (std::size_t way = 0; way < ways.size(); ++way) {
        files.copySeams() = ways[way];
        writeFile(dir / "source.txt", "content " + std::to_string(way));
        EXPECT_EQ(copy("out/plain.txt"), "copied") << way;
        EXPECT_EQ(copy("out/new" + std::to_string(way)), "copied") << way;
        EXPECT_EQ(readFile(dir / "out/plain.txt"), "content " + std::to_string(way));
        EXPECT_EQ(readFile(dir / ("out/new" + std::to_string(way))),
                  "content " + std::to_string(way));
        at(CopyPoint::BeforeLastCheck, [&] { fs::remove(dir / "out/plain.txt"); });
        EXPECT_NE(copy("out/plain.txt"), "copied") << way;
        writeFile(dir / "out/plain.txt", "old");
        EXPECT_TRUE(leftovers(dir.path()).empty()) << way;
    }
}

TEST_F(PosixCopyTest, aKilledCopyLeavesNothingBehind) {
    writeFile(dir / "big.bin", std::string(12 << 20, 'n'));
    for (const char* target : {"out/plain.txt", "out/absent.txt"}) {
        const pid_t child = ::fork();
        if (child == 0) {
            at(CopyPoint::ContentCopied, [] { ::raise(SIGKILL); });
            copyOutcome(files, win(dir / "big.bin"), win(dir / target));
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << target;
    }
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "old");
    EXPECT_FALSE(fs::exists(dir / "out/absent.txt"));
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

TEST_F(PosixCopyTest, aReplacedFileKeepsItsOwnAclAttributesAndModeButNoSetId) {
    if (::system("command -v setfacl >/dev/null") != 0)
        GTEST_SKIP() << "setfacl is not installed (package acl)";
    const fs::path acl = dir / "out/acl.txt", plain = dir / "inherits/plain.txt";
    writeFile(acl, "old");
    ::chmod(acl.c_str(), 0600);
    run("setfacl -m u:1234:rw,g::--- '" + acl.string() + "'");
    ::setxattr(acl.c_str(), "user.note", "kept", 4, 0);
    fs::create_directory(dir / "inherits");
    writeFile(plain, "old");
    ::chmod(plain.c_str(), 0644);
    run("setfacl -d -m u:1234:rwx '" + (dir / "inherits").string() + "'");
    writeFile(dir / "out/setid", "old");
    ::chmod((dir / "out/setid").c_str(), 06755);

    const std::string aclBefore = aclOf(acl);
    ASSERT_NE(aclBefore.find("user:1234:rw-"), std::string::npos) << aclBefore;
    for (const fs::path& target : {acl, plain, dir / "out/setid"})
        EXPECT_EQ(copyOutcome(files, win(dir / "source.txt"), win(target)), "copied");
    EXPECT_EQ(readFile(acl), "new content");
    EXPECT_EQ(aclOf(acl), aclBefore);
    char note[8] = {};
    EXPECT_EQ(::getxattr(acl.c_str(), "user.note", note, sizeof note), 4);
    EXPECT_STREQ(note, "kept");
    EXPECT_EQ(::getxattr(plain.c_str(), "system.posix_acl_access", nullptr, 0), -1)
        << "the folder's default ACL must not stick to a replaced file";
    EXPECT_EQ(statOf(plain).st_mode & 07777, 0644u);
    EXPECT_EQ(statOf(dir / "out/setid").st_mode & 07777, 0755u);
}

struct PermissionRow {
    const char* name;
    uid_t folderOwner;
    mode_t folderMode;
    uid_t fileOwner; // 0 with no mode: no file
    mode_t fileMode;
    std::string outcome;
    bool sameInode;
};

class PosixCopyPermissionTest : public PosixCopyTest,
                                public testing::WithParamInterface<PermissionRow> {};

// Root sets the scene, then an ordinary user (uid 65534) copies.
TEST_P(PosixCopyPermissionTest, theFileItselfMustBeWritable) {
    const PermissionRow& row = GetParam();
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give files to other users";
    const fs::path folder = dir / "shared", target = folder / "target.txt";
    ::chmod(dir.path().c_str(), 0755);
    fs::create_directory(folder);
    if (row.fileMode) {
        writeFile(target, "old");
        ASSERT_EQ(::chown(target.c_str(), row.fileOwner, row.fileOwner), 0);
        ::chmod(target.c_str(), row.fileMode);
    }
    ASSERT_EQ(::chown(folder.c_str(), row.folderOwner, row.folderOwner), 0);
    ::chmod(folder.c_str(), row.folderMode);
    const struct stat before = statOf(target);

    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
            ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(3);
        // As a program started by that user is: its own /proc/self stays its own.
        ::prctl(PR_SET_DUMPABLE, 1);
        PosixFileServices user;
        const std::string outcome = copyOutcome(user, win(dir / "source.txt"), win(target));
        (void)!::write(pipeEnds[1], outcome.data(), outcome.size());
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    char buffer[64] = {};
    (void)!::read(pipeEnds[0], buffer, sizeof buffer - 1);
    ::close(pipeEnds[0]);
    ::waitpid(child, nullptr, 0);

    const bool copied = row.outcome == "copied";
    EXPECT_EQ(std::string(buffer), row.outcome);
    if (row.fileMode) {
        EXPECT_EQ(readFile(target), copied ? "new content" : "old");
        EXPECT_EQ(statOf(target).st_ino == before.st_ino, row.sameInode);
        EXPECT_EQ(statOf(target).st_mode & 07777, row.fileMode);
    } else {
        EXPECT_FALSE(fs::exists(target));
    }
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PosixCopyPermissionTest,
    testing::Values(
        PermissionRow{"othersFileInOwnFolder", 65534, 0755, 0, 0644, refused(Refusal::NotWritable),
                      true},
        PermissionRow{"ownFileInOwnFolder", 65534, 0755, 65534, 0640, "copied", false},
        PermissionRow{"openFileInClosedFolderInPlace", 0, 0755, 0, 0666, "copied", true},
        PermissionRow{"othersOpenFileInStickyFolderInPlace", 0, 01777, 1234, 0666, "copied", true},
        PermissionRow{"absentInClosedFolder", 0, 0755, 0, 0, refused(Refusal::None), false}),
    [](const auto& info) { return info.param.name; });
