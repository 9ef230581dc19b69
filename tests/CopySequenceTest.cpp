// The copy sequence on this host's primitives: races forced at its points, refusals, a source
// changing mid-copy, and the dry run against the real run. The same rows run on both hosts;
// a row a host cannot carry says why it skips.
#include "platform/PlatformError.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#ifdef _WIN32
#include "copy/Main.h"
#include "platform/win32/Win32FileServices.h"
#include "platform/win32/Win32Io.h"

#include <aclapi.h>
#include <windows.h>
using HostFiles = Win32FileServices;

// This host's primitives with a call of the temporary file made to fail, the rename with
// POSIX semantics over a held target, which Wine lacks, made as a plain one, and facts Wine
// cannot give (a volume's features, an owner no new file can keep).
class TestPrimitives : public Win32CopyPrimitives {
  public:
    using Win32CopyPrimitives::HostCall;

    std::error_code publishOverHeld(NewFile& file, const CopyTarget& target) override {
        if (overHeld)
            overHeld();
        return publish(file, target, true);
    }
    Result<VolumeFacts> volumeOf(const CopyTarget& target) override {
        if (volume)
            return *volume;
        return Win32CopyPrimitives::volumeOf(target);
    }
    Result<bool> mayKeepOwner(const CopyTarget& target) override {
        if (!ownerKept)
            return false;
        return Win32CopyPrimitives::mayKeepOwner(target);
    }

    // What lookUp reads of the files it finds: a reparse point with this tag and these
    // attributes besides, as Wine cannot make one. A placeholder stays one; the file a link
    // leads to is read as it is.
    void described(BY_HANDLE_FILE_INFORMATION& info, DWORD& tag) override {
        if (!given)
            return;
        info.dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT | given->attributes;
        tag = given->tag;
        if (IsReparseTagNameSurrogate(tag))
            given.reset();
    }
    void described(Place& place) override { place.remote = place.remote || remote; }
    std::error_code carryStreams(OsHandle& out, const CopySource& source) override {
        ++streamsCarried;
        return Win32CopyPrimitives::carryStreams(out, source);
    }
    std::error_code setDeleteOnClose(HANDLE file, bool deleted) override {
        return disposition ? disposition(deleted)
                           : Win32CopyPrimitives::setDeleteOnClose(file, deleted);
    }
    void named(std::wstring& path) override {
        if (asOpened)
            path = path.substr(0, path.find_last_of(L'\\') + 1) + *asOpened;
    }
    Result<std::optional<HostString>> finalPath(const HostString& path,
                                                std::vector<LinkMet>& met) override {
        Result<std::optional<HostString>> final = Win32CopyPrimitives::finalPath(path, met);
        if (owners && !met.empty())
            met.back() = *owners;
        return final;
    }

    struct Reparse {
        DWORD tag;
        DWORD attributes;
    };
    std::optional<Reparse> given;
    // Who owns the link and what it leads to, as Wine cannot give a junction another owner.
    std::optional<LinkMet> owners;
    // The error a call fails with; none when empty.
    std::function<std::error_code(HostCall)> fail;
    // What setting or clearing delete on close answers, as a file system with the class would;
    // the system's answer when empty.
    std::function<std::error_code(bool deleted)> disposition;
    // Runs before the rename over a held target.
    std::function<void()> overHeld;
    // What the target's volume is said to have; its own when empty.
    std::optional<VolumeFacts> volume;
    bool ownerKept = true;  // false: no new file can take the target's owner
    bool remote = false;    // the target's folder is on a share
    int streamsCarried = 0; // copies given the source's named streams
    // The last name of the path the system gives for a held file, as a share gives the name it
    // was opened by; as read when empty.
    std::optional<std::wstring> asOpened;

  protected:
    std::error_code failure(HostCall call) override {
        return fail ? fail(call) : std::error_code();
    }
};
#else
#include "platform/CopySequence.h"
#include "platform/posix/PosixCopyPrimitives.h"
#include "platform/posix/PosixFileServices.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
using HostFiles = PosixFileServices;
using TestPrimitives = PosixCopyPrimitives;
#endif

namespace fs = std::filesystem;

namespace {

// Windows refuses to move a file over one that is held open: there the held target cannot
// be swapped at all and the copy goes on; elsewhere the swap is seen at the last check.
#ifdef _WIN32
constexpr const char* kSwapped = "new content";
#else
constexpr const char* kSwapped = "other";
#endif

void relink(const fs::path& link, const fs::path& to) {
    fs::remove(link);
    fs::create_symlink(to, link);
}

// What a test does at the points of a copy.
struct PointActions : CopyObserver {
    void reached(CopyPoint point, const CopyHolding& holding) override {
        if (held)
            held(point, holding);
        if (at)
            at(point);
    }

    std::function<void(CopyPoint)> at;
    // Told what the copy holds at each point.
    std::function<void(CopyPoint, const CopyHolding&)> held;
};

} // namespace

class CopySequenceTest : public testing::Test {
  protected:
    void SetUp() override {
        writeFile(dir / "source.txt", "new content");
        fs::create_directory(dir / "out");
        fs::create_directory(dir / "real");
        fs::create_directory(dir / "guarded");
        writeFile(dir / "out/plain.txt", "old");
        writeFile(dir / "real/file.txt", "old");
        writeFile(dir / "guarded/secret.txt", "secret");
        makeReadOnly(dir / "guarded/secret.txt");
        links = symlinkIfSupported(dir / "real/file.txt", dir / "out/link.txt");
        files.observeCopies(&points);
    }
    std::string copy(const std::string& target) {
        return copyOutcome(files, win(dir / "source.txt"), win(dir / target));
    }
    void at(CopyPoint point, std::function<void()> action) {
        points.at = [point, action](CopyPoint reached) {
            if (reached == point)
                action();
        };
    }

    TempDir dir;
    PointActions points;
    std::unique_ptr<TestPrimitives> made = std::make_unique<TestPrimitives>();
    TestPrimitives& host = *made; // owned by `files`
    HostFiles files{std::move(made)};
    bool links = false;
};

// What a race row needs of the host beyond files and folders.
enum class Needs { Nothing, Links, MovedFoldersFollowed };

struct RaceRow {
    const char* name;
    CopyPoint point;
    const char* target;
    Needs needs;
    std::function<void(const fs::path&)> act;
    // Files and the content each must hold afterwards.
    std::vector<std::pair<const char*, const char*>> after;
};

class CopyRaceTest : public CopySequenceTest, public testing::WithParamInterface<RaceRow> {};

// Whatever is swapped between a check and its use, only the checked file is ever written.
TEST_P(CopyRaceTest, writesOnlyTheFileItChecked) {
    const RaceRow& row = GetParam();
    if (row.needs == Needs::Links && !links)
        GTEST_SKIP() << "no symbolic links on this host (Wine cannot make them)";
    if (row.needs == Needs::MovedFoldersFollowed && underWine())
        GTEST_SKIP() << "Wine finds an open folder by the path it had, not where it was moved";
    at(row.point, [&] { row.act(dir.path()); });
    EXPECT_NE(copy(row.target), refused(Refusal::SourceChanged));
    for (const auto& [file, content] : row.after)
        EXPECT_EQ(readFile(dir / file), content) << file;
    EXPECT_EQ(readFile(dir / "source.txt"), "new content");
    EXPECT_EQ(fs::hard_link_count(dir / "source.txt"), 1u);
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CopyRaceTest,
    testing::Values(
        RaceRow{
            .name = "linkRepointedAtAGuardedFile",
            .point = CopyPoint::TargetChecked,
            .target = "out/link.txt",
            .needs = Needs::Links,
            .act = [](const fs::path& d) { relink(d / "out/link.txt", d / "guarded/secret.txt"); },
            .after = {{"real/file.txt", "new content"}, {"guarded/secret.txt", "secret"}}},
        RaceRow{.name = "linkRepointedAtTheSource",
                .point = CopyPoint::TargetChecked,
                .target = "out/link.txt",
                .needs = Needs::Links,
                .act = [](const fs::path& d) { relink(d / "out/link.txt", d / "source.txt"); },
                .after = {{"real/file.txt", "new content"}}},
        RaceRow{
            .name = "linkRepointedBeforeTheLastCheck",
            .point = CopyPoint::BeforeLastCheck,
            .target = "out/link.txt",
            .needs = Needs::Links,
            .act = [](const fs::path& d) { relink(d / "out/link.txt", d / "guarded/secret.txt"); },
            .after = {{"real/file.txt", "new content"}, {"guarded/secret.txt", "secret"}}},
        RaceRow{.name = "folderSwappedForALink",
                .point = CopyPoint::TargetChecked,
                .target = "out/plain.txt",
                .needs = Needs::Links,
                .act =
                    [](const fs::path& d) {
                        fs::rename(d / "out", d / "moved");
                        fs::create_symlink(d / "guarded", d / "out");
                    },
                .after = {{"moved/plain.txt", "new content"}, {"guarded/secret.txt", "secret"}}},
        RaceRow{.name = "checkedFileReplaced",
                .point = CopyPoint::BeforeLastCheck,
                .target = "out/plain.txt",
                .needs = Needs::Nothing,
                .act =
                    [](const fs::path& d) {
                        writeFile(d / "out/other.txt", "other");
                        std::error_code held;
                        fs::rename(d / "out/other.txt", d / "out/plain.txt", held);
                        fs::remove(d / "out/other.txt", held);
                    },
                .after = {{"out/plain.txt", kSwapped}}},
        RaceRow{.name = "checkedFileMadeALinkToTheSource",
                .point = CopyPoint::BeforeLastCheck,
                .target = "out/plain.txt",
                .needs = Needs::Links,
                .act = [](const fs::path& d) { relink(d / "out/plain.txt", d / "source.txt"); },
                .after = {}},
        RaceRow{.name = "absentNameTakenMeanwhile",
                .point = CopyPoint::BeforeLastCheck,
                .target = "out/new.txt",
                .needs = Needs::Nothing,
                .act = [](const fs::path& d) { writeFile(d / "out/new.txt", "theirs"); },
                .after = {{"out/new.txt", "theirs"}}},
        RaceRow{.name = "folderMovedAndAnotherMadeInItsPlace",
                .point = CopyPoint::TargetChecked,
                .target = "out/new.txt",
                .needs = Needs::MovedFoldersFollowed,
                .act =
                    [](const fs::path& d) {
                        fs::rename(d / "out", d / "moved");
                        fs::create_directory(d / "out");
                    },
                .after = {{"moved/new.txt", "new content"}, {"out/new.txt", ""}}}),
    [](const auto& info) { return info.param.name; });

// A file's number is unique only while the file is open: the checked target must be held at
// every point up to the last check, or a file swapped in could take its number.
TEST_F(CopySequenceTest, theCheckedTargetIsHeldUpToTheLastCheck) {
    std::vector<CopyPoint> reached;
    points.held = [&](CopyPoint point, const CopyHolding& holding) {
        reached.push_back(point);
        EXPECT_TRUE(holding.target) << static_cast<int>(point);
    };
    EXPECT_EQ(copy("out/plain.txt"), "copied");
    EXPECT_EQ(reached, (std::vector<CopyPoint>{CopyPoint::TargetChecked, CopyPoint::ContentCopied,
                                               CopyPoint::BeforeLastCheck}));
}

struct RefusalRow {
    const char* target;
    Refusal refusal;
};

// Each refusal says why and writes nothing; the hosts' own refusals do not count (Wine
// refuses neither hidden targets nor, for an administrator, read-only ones).
TEST_F(CopySequenceTest, refusalsSayWhyAndWriteNothing) {
    writeFile(dir / "out/readonly.txt", "keep");
    makeReadOnly(dir / "out/readonly.txt");
    writeFile(dir / "out/.hidden", "keep");
    hide(dir / "out/.hidden");
    fs::create_directory(dir / "out/folder");
    std::vector<RefusalRow> rows = {{.target = "out/readonly.txt", .refusal = Refusal::ReadOnly},
                                    {.target = "out/.hidden", .refusal = Refusal::Hidden},
                                    {.target = "out/folder", .refusal = Refusal::Folder},
                                    {.target = "source.txt", .refusal = Refusal::SameFile}};
    if (links) {
        fs::create_symlink(dir / "out/.hidden", dir / "out/to-hidden");
        fs::create_symlink(dir / "real/file.txt", dir / "out/.hidden-link");
        fs::create_symlink(dir / "out/nowhere", dir / "out/dangling");
        fs::create_hard_link(dir / "source.txt", dir / "out/hard.txt");
        rows.insert(rows.end(), {{.target = "out/to-hidden", .refusal = Refusal::Hidden},
                                 {.target = "out/.hidden-link", .refusal = Refusal::Hidden},
                                 {.target = "out/dangling", .refusal = Refusal::DanglingLink},
                                 {.target = "out/hard.txt", .refusal = Refusal::SameFile}});
    }
#ifndef _WIN32
    ::mkfifo((dir / "out/fifo").c_str(), 0666);
    rows.push_back({.target = "out/fifo", .refusal = Refusal::NotRegular});
    EXPECT_EQ(copyOutcome(files, win(dir / "out/fifo"), win(dir / "out/plain.txt")),
              refused(Refusal::NotRegular));
#endif
    for (const auto& [target, refusal] : rows) {
        EXPECT_EQ(copy(target), refused(refusal)) << target;
        EXPECT_EQ(copyResult(files, win(dir / "source.txt"), win(dir / target), true),
                  refused(refusal))
            << "dry run of " << target;
    }
    fs::permissions(dir / "out/readonly.txt", fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(readFile(dir / "out/readonly.txt"), "keep");
    EXPECT_EQ(readFile(dir / "out/.hidden"), "keep");
    EXPECT_EQ(readFile(dir / "real/file.txt"), "old");
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "old");
    EXPECT_EQ(readFile(dir / "source.txt"), "new content");
    EXPECT_FALSE(fs::exists(dir / "out/nowhere"));
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

// What a dry run foresees is what the real run then does, a name it foresaw as created
// counting as present.
TEST_F(CopySequenceTest, aDryRunForeseesWhatTheRealRunDoes) {
    for (const char* target : {"out/new.txt", "out/plain.txt"}) {
        const std::u16string source = win(dir / "source.txt"), to = win(dir / target);
        const std::string foreseen = copyResult(files, source, to, true);
        EXPECT_EQ(foreseen, copyResult(files, source, to, false)) << target;
    }
    EXPECT_EQ(copyResult(files, win(dir / "source.txt"), win(dir / "out/later.txt"), true),
              "created");
    EXPECT_EQ(copyResult(files, win(dir / "source.txt"), win(dir / "out/later.txt"), true),
              "replaced");
    EXPECT_FALSE(fs::exists(dir / "out/later.txt"));
}

struct ChangeRow {
    const char* name;
    std::size_t size;
    std::function<void(const fs::path& source)> change;
};

class CopySourceTest : public CopySequenceTest, public testing::WithParamInterface<ChangeRow> {};

// A source that changes mid-copy fails the copy; the old target stays whole.
TEST_P(CopySourceTest, aChangingSourceLeavesTheTargetAsItWas) {
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
    Rows, CopySourceTest,
    testing::Values(
        ChangeRow{.name = "truncated",
                  .size = 12 << 20,
                  .change = [](const fs::path& s) { fs::resize_file(s, 1 << 20); }},
        ChangeRow{.name = "grown",
                  .size = 4096,
                  .change = [](const fs::path& s) { std::ofstream(s, std::ios::app) << "more"; }},
        ChangeRow{.name = "rewrittenInPlace",
                  .size = 4096,
                  .change =
                      [](const fs::path& s) {
                          fs::last_write_time(s, fs::last_write_time(s) - std::chrono::hours(24));
                      }},
        ChangeRow{.name = "rewrittenItsTimeSetBack",
                  .size = 4096,
                  .change =
                      [](const fs::path& s) {
                          const fs::file_time_type was = fs::last_write_time(s);
                          writeFile(s, std::string(4096, 'x'));
                          fs::last_write_time(s, was);
                      }}),
    [](const auto& info) { return info.param.name; });

// The next run of the same list refuses on both hosts alike.
TEST_F(CopySequenceTest, aReadOnlySourceGivesAReadOnlyNewTarget) {
    makeReadOnly(dir / "source.txt");
    EXPECT_EQ(copy("out/new.txt"), "copied");
    EXPECT_EQ(fs::status(dir / "out/new.txt").permissions() & fs::perms::owner_write,
              fs::perms::none);
    EXPECT_EQ(copy("out/new.txt"), refused(Refusal::ReadOnly));
}

#ifdef _WIN32

namespace {

std::vector<std::string> listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        names.push_back(fs::relative(entry.path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

// Holds a file open as another program would, sharing what `share` says.
OsHandle holdOpen(const fs::path& path, DWORD share) {
    return ownHandle(
        ::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
}

using HostCall = TestPrimitives::HostCall;

std::function<std::error_code(HostCall)> failing(HostCall which, DWORD error) {
    return [which, error](HostCall call) {
        return call == which ? std::error_code(static_cast<int>(error), std::system_category())
                             : std::error_code();
    };
}

} // namespace

// Trailing dots and spaces, "..", and devices are read as the system reads them, once.
TEST_F(CopySequenceTest, namesLandWhereTheSystemsOwnCopyPutsThem) {
    for (const char* folder : {"mine/d", "system/d"})
        fs::create_directories(dir / folder);
    for (const std::wstring name : {L"x.", L"y ", L"d\\..\\z.", L"d\\w . "}) {
        const std::wstring mine = (dir / "mine").wstring() + L"\\" + name;
        EXPECT_TRUE(::CopyFileW((dir / "source.txt").c_str(),
                                ((dir / "system").wstring() + L"\\" + name).c_str(), TRUE));
        EXPECT_EQ(copyResult(files, win(dir / "source.txt"), fromWide(mine), true), "created");
        EXPECT_EQ(copyResult(files, win(dir / "source.txt"), fromWide(mine), false), "created");
    }
    EXPECT_EQ(listing(dir / "mine"), listing(dir / "system"));
    for (const char16_t* device : {u"NUL", u"CON"}) {
        EXPECT_EQ(copyOutcome(files, device, win(dir / "out/plain.txt")),
                  refused(Refusal::NotRegular));
        EXPECT_EQ(copyOutcome(files, win(dir / "source.txt"), device),
                  refused(Refusal::NotRegular));
    }
    // A last part holding ':' names a stream
    // (learn.microsoft.com/windows/win32/fileio/file-streams).
    const auto before = listing(dir / "out");
    for (const char* stream : {"out/plain.txt:s", "out/new.txt:s"})
        for (const bool dryRun : {true, false})
            EXPECT_EQ(copyResult(files, win(dir / "source.txt"), win(dir / stream), dryRun),
                      refused(Refusal::NotRegular))
                << stream << (dryRun ? " (dry run)" : "");
    EXPECT_EQ(listing(dir / "out"), before);
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "old");
    // A "\\.\" name of a disk file is that file
    // (learn.microsoft.com/windows/win32/fileio/naming-a-file).
    const std::u16string local = u"\\\\.\\";
    for (const char* target : {"out/plain.txt", "out/fresh.txt"}) {
        EXPECT_EQ(copyOutcome(files, local + win(dir / "source.txt"), local + win(dir / target)),
                  "copied");
        EXPECT_EQ(readFile(dir / target), "new content");
    }
}

struct ReparseRow {
    const char* name;
    TestPrimitives::Reparse reparse;
    std::optional<LinkMet> owners;
    std::string outcome; // of the dry run and of the copy
};

class CopyReparseTest : public CopySequenceTest, public testing::WithParamInterface<ReparseRow> {};

// Only name surrogates are links; a link is hidden by HIDDEN or SYSTEM as any target is, and
// another user's link or junction leads only to that user's own files.
TEST_P(CopyReparseTest, theSequenceJudgesReparsePointsByTheirTagAndOwners) {
    const ReparseRow& row = GetParam();
    host.owners = row.owners;
    for (const bool dryRun : {true, false}) {
        host.given = row.reparse;
        EXPECT_EQ(copyResult(files, win(dir / "source.txt"), win(dir / "out/plain.txt"), dryRun),
                  row.outcome)
            << (dryRun ? "dry run" : "copy");
    }
    EXPECT_EQ(readFile(dir / "out/plain.txt"), row.outcome == "replaced" ? "new content" : "old");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CopyReparseTest,
    testing::Values(
        // https://learn.microsoft.com/windows/win32/fileio/reparse-point-tags
        ReparseRow{.name = "cloudPlaceholderIsTheFile",
                   .reparse = {.tag = IO_REPARSE_TAG_CLOUD_6, .attributes = 0},
                   .owners = std::nullopt,
                   .outcome = "replaced"},
        // https://learn.microsoft.com/windows/win32/fileio/file-attribute-constants
        ReparseRow{.name = "systemLinkIsHidden",
                   .reparse = {.tag = IO_REPARSE_TAG_SYMLINK, .attributes = FILE_ATTRIBUTE_SYSTEM},
                   .owners = std::nullopt,
                   .outcome = refused(Refusal::Hidden)},
        // https://learn.microsoft.com/windows/win32/fileio/hard-links-and-junctions
        ReparseRow{.name = "othersJunctionToWhatIsNotTheirs",
                   .reparse = {.tag = IO_REPARSE_TAG_MOUNT_POINT, .attributes = 0},
                   .owners = LinkMet{.mine = false, .toOwnersOwn = false},
                   .outcome = refused(Refusal::ForeignLink)},
        ReparseRow{.name = "othersJunctionToTheirOwn",
                   .reparse = {.tag = IO_REPARSE_TAG_MOUNT_POINT, .attributes = 0},
                   .owners = LinkMet{.mine = false, .toOwnersOwn = true},
                   .outcome = "replaced"}),
    [](const auto& info) { return info.param.name; });

struct BusyRow {
    const char* name;
    DWORD share;    // what the other program shares
    bool noNewFile; // the folder refuses the temporary file: only in place is left
    bool foreseen;  // whether the dry run can see it
    std::optional<VolumeFacts> volume = {};
    bool ownerKept = true; // false: the copy is written in place
};

class CopyBusyTest : public CopySequenceTest, public testing::WithParamInterface<BusyRow> {};

// A target another program holds open is never written over under it: the copy waits a while
// (the dry run does not), then is refused, the target whole; a holder that lets go meanwhile
// (a scanner) does not stop the copy.
TEST_P(CopyBusyTest, aTargetOpenElsewhereIsBusyAndStaysWhole) {
    const BusyRow& row = GetParam();
    OsHandle reader = holdOpen(dir / "out/plain.txt", row.share);
    ASSERT_TRUE(reader.valid());
    if (row.noNewFile)
        host.fail = failing(HostCall::CreateTemporary, ERROR_ACCESS_DENIED);
    host.volume = row.volume;
    host.ownerKept = row.ownerKept;
    int waits = 0;
    at(CopyPoint::Busy, [&] { ++waits; });
    if (row.foreseen) {
        EXPECT_EQ(copyResult(files, win(dir / "source.txt"), win(dir / "out/plain.txt"), true),
                  refused(Refusal::Busy));
    }
    EXPECT_EQ(waits, 0);
    EXPECT_EQ(copy("out/plain.txt"), refused(Refusal::Busy));
    EXPECT_EQ(waits, 5);
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "old");
    EXPECT_TRUE(leftovers(dir.path()).empty());
    at(CopyPoint::Busy, [&] { reader.reset(); });
    EXPECT_EQ(copy("out/plain.txt"), "copied");
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "new content");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CopyBusyTest,
    testing::Values(
        BusyRow{.name = "readerSharingNoDelete",
                .share = FILE_SHARE_READ | FILE_SHARE_WRITE,
                .noNewFile = false,
                .foreseen = true},
        BusyRow{.name = "readerOfAFolderRefusingNewFiles",
                .share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                .noNewFile = true,
                .foreseen = false},
        // An editor's document
        // (learn.microsoft.com/windows/win32/fileio/creating-and-opening-files).
        BusyRow{.name = "readerSharingNoWrite",
                .share = FILE_SHARE_READ,
                .noNewFile = false,
                .foreseen = true},
        // FAT, as Wine, has no rename that leaves the old file to its holders:
        // learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-getvolumeinformationbyhandlew
        BusyRow{.name = "readerSharingDeleteWithoutPosixRenames",
                .share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                .noNewFile = false,
                .foreseen = true,
                .volume = VolumeFacts{.posixRenames = false}},
        BusyRow{.name = "readerSharingAllOfAFileWrittenInPlace",
                .share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                .noNewFile = false,
                .foreseen = true,
                .volume = VolumeFacts{},
                .ownerKept = false}),
    [](const auto& info) { return info.param.name; });

struct VolumeRow {
    const char* name;
    VolumeFacts volume;
    bool ownerKept; // whether a new file can take the target's owner
    const char* outcome;
};

class CopyVolumeTest : public CopySequenceTest, public testing::WithParamInterface<VolumeRow> {};

// An owner no new file can take is kept by writing in place, except where the volume keeps no
// owners (FAT, exFAT read every owner as Everyone): there the target is replaced, as in place a
// stick pulled out would tear it.
// Replaced or written over, the target takes the source's named streams with its content, as
// the system's own copy gives them (a download's Mark of the Web); Wine has no streams to show
// (learn.microsoft.com/windows/win32/fileio/file-streams).
TEST_P(CopyVolumeTest, anOwnerIsKeptOnlyWhereTheVolumeKeepsOwners) {
    const VolumeRow& row = GetParam();
    host.volume = row.volume;
    host.ownerKept = row.ownerKept;
    for (const bool dryRun : {true, false})
        EXPECT_EQ(copyResult(files, win(dir / "source.txt"), win(dir / "out/plain.txt"), dryRun),
                  row.outcome);
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "new content");
    EXPECT_EQ(host.streamsCarried, 1);
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

// learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-getvolumeinformationbyhandlew
INSTANTIATE_TEST_SUITE_P(Rows, CopyVolumeTest,
                         testing::Values(VolumeRow{.name = "ntfsOwnDescriptorCarried",
                                                   .volume = {.keepsOwners = true},
                                                   .ownerKept = true,
                                                   .outcome = "replaced"},
                                         VolumeRow{.name = "ntfsOthersOwner",
                                                   .volume = {.keepsOwners = true},
                                                   .ownerKept = false,
                                                   .outcome = "in place"},
                                         VolumeRow{.name = "fat",
                                                   .volume = {.keepsOwners = false},
                                                   .ownerKept = false,
                                                   .outcome = "replaced"}),
                         [](const auto& info) { return info.param.name; });

// A running program's image opens for no writing: busy in both runs, the file whole
// (learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-createfilew, "sharing violation").
TEST_F(CopySequenceTest, aRunningProgramsImageIsBusy) {
    wchar_t self[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    const fs::path program = dir / "out/program.exe";
    fs::copy_file(self, program);
    std::wstring line = L"\"" + program.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                                 nullptr, nullptr, &startup, &started));
    const OsHandle process = ownHandle(started.hProcess), thread = ownHandle(started.hThread);
    for (const bool dryRun : {true, false})
        EXPECT_EQ(copyResult(files, win(dir / "source.txt"), win(program), dryRun),
                  refused(Refusal::Busy));
    ::TerminateProcess(started.hProcess, 0);
    ::WaitForSingleObject(started.hProcess, INFINITE);
    EXPECT_EQ(readFile(program), readFile(self));
}

// Where the file system has it, the rename with POSIX semantics replaces a target that a reader
// holds while sharing delete. Wine has none: the plain rename stands in, once the reader has
// let go, to carry the sequence through the retry.
TEST_F(CopySequenceTest, aTargetHeldBySharingReaderIsReplacedByThePosixRename) {
    OsHandle reader =
        holdOpen(dir / "out/plain.txt", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    int renames = 0;
    host.overHeld = [&] {
        ++renames;
        reader.reset();
    };
    EXPECT_EQ(copyResult(files, win(dir / "source.txt"), win(dir / "out/plain.txt"), false),
              "replaced");
    EXPECT_EQ(renames, 1);
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "new content");
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

// The narrowing call as documented for UTF-8, which Wine does not enforce: no flag but
// WC_ERR_INVALID_CHARS, no default character.
static int strictUtf8(UINT codePage, DWORD flags, LPCWCH wide, int wideSize, LPSTR out, int outSize,
                      LPCCH defaultChar, LPBOOL usedDefault) {
    if (codePage != CP_UTF8 || (flags & ~DWORD{WC_ERR_INVALID_CHARS})) {
        ::SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    if (defaultChar || usedDefault) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return ::WideCharToMultiByte(codePage, flags, wide, wideSize, out, outSize, nullptr, nullptr);
}

// Under the system's "UTF-8" setting a source is still found, and a name UTF-8 cannot carry
// (a lone surrogate) is not.
TEST_F(CopySequenceTest, aUtf8CodePageStillFindsTheSource) {
    files.ansiSeams() = {[] { return UINT{CP_UTF8}; }, strictUtf8};
    EXPECT_TRUE(files.openExisting(win(dir / "source.txt")));
    EXPECT_EQ(copy("out/new.txt"), "copied");
    EXPECT_FALSE(files.openExisting(win(dir / "out") + u"\\\xD800.txt"));
}

// Held from the checks to the last one, the target can be neither deleted nor moved over.
TEST_F(CopySequenceTest, theHeldTargetCanBeNeitherDeletedNorMovedOver) {
    writeFile(dir / "out/other.txt", "other");
    std::vector<bool> refused;
    at(CopyPoint::ContentCopied, [&] {
        std::error_code error;
        refused.push_back(!fs::remove(dir / "out/plain.txt", error) && error);
        fs::rename(dir / "out/other.txt", dir / "out/plain.txt", error);
        refused.push_back(static_cast<bool>(error));
    });
    EXPECT_EQ(copy("out/plain.txt"), "copied");
    EXPECT_EQ(refused, (std::vector<bool>{true, true}));
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "new content");
}

// Where the folder takes no new file the target is written over: first the new content, then
// the old end cut, never the other way round.
TEST_F(CopySequenceTest, inPlaceWritesTheWholeSourceOverLongerAndShorterTargets) {
    host.fail = failing(HostCall::CreateTemporary, ERROR_ACCESS_DENIED);
    writeFile(dir / "out/long.txt", "old content, longer than the new");
    for (const char* target : {"out/long.txt", "out/plain.txt"}) {
        EXPECT_EQ(copyResult(files, win(dir / "source.txt"), win(dir / target), false), "in place");
        EXPECT_EQ(readFile(dir / target), "new content") << target;
    }
}

// The temporary file is hidden by its attribute while it exists (a leading dot hides nothing
// here); any of its steps failing leaves the target as it was and nothing behind.
TEST_F(CopySequenceTest, theTemporaryFileIsHiddenAndEveryFailedStepLeavesNothing) {
    std::vector<DWORD> seen;
    at(CopyPoint::ContentCopied, [&] {
        for (const std::string& left : leftovers(dir / "out"))
            seen.push_back(::GetFileAttributesA(left.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    });
    EXPECT_EQ(copy("out/plain.txt"), "copied");
    EXPECT_EQ(seen, std::vector<DWORD>{FILE_ATTRIBUTE_HIDDEN});
    EXPECT_EQ(::GetFileAttributesW((dir / "out/plain.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    points.at = nullptr;
    writeFile(dir / "out/plain.txt", "old");
    for (const HostCall call : {HostCall::CreateTemporary, HostCall::WriteOut,
                                HostCall::SetAttributes, HostCall::Rename}) {
        host.fail = failing(call, ERROR_INVALID_PARAMETER);
        for (const char* target : {"out/plain.txt", "out/absent.txt"})
            EXPECT_EQ(copy(target), refused(Refusal::None))
                << target << " " << static_cast<int>(call);
        EXPECT_EQ(readFile(dir / "out/plain.txt"), "old");
        EXPECT_FALSE(fs::exists(dir / "out/absent.txt"));
        EXPECT_TRUE(leftovers(dir.path()).empty());
    }
}

// A temporary file left by a crash goes with the next copy into its folder, unless another run
// holds it (sharing nothing, as every live one is) or it is a POSIX copy's or no copy's name.
TEST_F(CopySequenceTest, aLeftoverNobodyHoldsGoesWithTheNextCopyThere) {
    for (const char* left : {".quorvane-win-0123456789ab.tmp", ".quorvane-win-held.tmp",
                             ".quorvane-0123456789ab.tmp", ".quorvane-win-notes.txt"})
        writeFile(dir / "out" / left, "left");
    const OsHandle held = holdOpen(dir / "out/.quorvane-win-held.tmp", 0);
    const std::vector<std::string> before = listing(dir / "out");
    EXPECT_EQ(copyResult(files, win(dir / "source.txt"), win(dir / "out/new.txt"), true),
              "created");
    EXPECT_EQ(listing(dir / "out"), before);
    EXPECT_EQ(copy("out/new.txt"), "copied");
    EXPECT_EQ(listing(dir / "out"),
              (std::vector<std::string>{".quorvane-0123456789ab.tmp", ".quorvane-win-held.tmp",
                                        ".quorvane-win-notes.txt", "new.txt", "plain.txt"}));
}

struct DispositionRow {
    const char* name;
    DWORD set, clear; // what setting and clearing delete on close fail with; 0: taken
    std::string outcome;
};

class CopyDispositionTest : public CopySequenceTest,
                            public testing::WithParamInterface<DispositionRow> {};

// The temporary file is deleted on close until just before its rename, its delete never
// pending, so that every step on it is allowed; where the file system has no class to clear that
// (FAT, exFAT, Wine, a filter that takes only the set), it is kept under its name and removed on
// failure.
TEST_P(CopyDispositionTest, aFileSystemWithoutTheClassKeepsANamedTemporaryFile) {
    const DispositionRow& row = GetParam();
    host.disposition = [&](bool deleted) {
        return std::error_code(static_cast<int>(deleted ? row.set : row.clear),
                               std::system_category());
    };
    EXPECT_EQ(copy("out/plain.txt"), row.outcome);
    EXPECT_EQ(readFile(dir / "out/plain.txt"), row.outcome == "copied" ? "new content" : "old");
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

// learn.microsoft.com/windows-hardware/drivers/ddi/ntddk/ns-ntddk-_file_disposition_information_ex
INSTANTIATE_TEST_SUITE_P(Rows, CopyDispositionTest,
                         testing::Values(DispositionRow{"classRefused", ERROR_INVALID_FUNCTION,
                                                        ERROR_INVALID_FUNCTION, "copied"},
                                         DispositionRow{"onlySetTaken", 0, ERROR_INVALID_PARAMETER,
                                                        "copied"},
                                         DispositionRow{"otherFailure", ERROR_IO_DEVICE,
                                                        ERROR_IO_DEVICE, refused(Refusal::None)}),
                         [](const auto& info) { return info.param.name; });

// The new file's data is on disk before it takes its name, and its folder, holding the name, is
// flushed before "Done.", where a failure is reported; a file system that flushes no folder (a
// share) loses nothing by it
// (learn.microsoft.com/windows-hardware/drivers/ddi/ntifs/nf-ntifs-ntflushbuffersfileex).
TEST_F(CopySequenceTest, dataReachesTheDiskBeforeItsNameAndTheNameBeforeDone) {
    std::vector<HostCall> calls;
    DWORD folderFlush = ERROR_IO_DEVICE;
    host.fail = [&](HostCall call) {
        calls.push_back(call);
        return std::error_code(call == HostCall::FlushFolder ? folderFlush : 0,
                               std::system_category());
    };
    EXPECT_EQ(copy("out/plain.txt"), "copied");
    EXPECT_THROW(files.makeDurable(), PlatformError);
    EXPECT_EQ(calls,
              (std::vector{HostCall::CreateTemporary, HostCall::WriteOut, HostCall::SetAttributes,
                           HostCall::Rename, HostCall::FlushFolder}));
    folderFlush = ERROR_INVALID_FUNCTION;
    EXPECT_EQ(copy("out/plain.txt"), "copied");
    EXPECT_NO_THROW(files.makeDurable());
}

// Whether a folder takes new files is the file system's to say, not its descriptor's, which on
// a share does not hold the share's own permissions; Wine keeps a descriptor it does not enforce
// (learn.microsoft.com/windows/win32/fileio/file-security-and-access-rights).
TEST_F(CopySequenceTest, theDryRunAsksTheFileSystemWhetherAFolderTakesNewFiles) {
    EXPLICIT_ACCESS_W rules[2] = {};
    ::BuildExplicitAccessWithNameW(&rules[0], const_cast<wchar_t*>(L"EVERYONE"), FILE_ADD_FILE,
                                   DENY_ACCESS, NO_INHERITANCE);
    ::BuildExplicitAccessWithNameW(&rules[1], const_cast<wchar_t*>(L"EVERYONE"), GENERIC_ALL,
                                   GRANT_ACCESS, NO_INHERITANCE);
    PACL acl = nullptr;
    ASSERT_EQ(::SetEntriesInAclW(2, rules, nullptr, &acl), ERROR_SUCCESS);
    const DWORD set =
        ::SetNamedSecurityInfoW(const_cast<wchar_t*>((dir / "out").c_str()), SE_FILE_OBJECT,
                                DACL_SECURITY_INFORMATION, nullptr, nullptr, acl, nullptr);
    ::LocalFree(acl);
    ASSERT_EQ(set, ERROR_SUCCESS);
    if (copy("out/first.txt") != "copied")
        GTEST_SKIP() << "Wine carried the denial into the Unix permissions, which then hold";
    for (const bool dryRun : {true, false})
        EXPECT_EQ(copyResult(files, win(dir / "source.txt"), win(dir / "out/new.txt"), dryRun),
                  "created");
}

// On a share the held folder is pinned by the server: held sharing no delete, it can be neither
// moved nor removed while the copy runs, and the rename names the full path
// (learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-createfilew, dwShareMode).
TEST_F(CopySequenceTest, aFolderOnAShareIsPinnedWhileTheCopyRuns) {
    host.remote = true;
    std::error_code moved;
    at(CopyPoint::ContentCopied, [&] { fs::rename(dir / "out", dir / "moved", moved); });
    EXPECT_EQ(copy("out/plain.txt"), "copied");
    EXPECT_TRUE(moved);
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "new content");
}

// What became of each copy, and the file written where it is not the one named.
struct Told : CopyListener {
    void copied(std::u16string_view, CopyOutcome, std::u16string_view file) override {
        written.emplace_back(file);
    }
    void notCopied(std::u16string_view, const PlatformError&) override {}
    std::vector<std::u16string> written;
};

// A listed short (8.3) name keeps the file's long name, also where the system names a held file
// as it was opened, as a share does: both runs name the long one as the file written
// (learn.microsoft.com/windows/win32/fileio/naming-a-file#short-vs-long-names).
TEST_F(CopySequenceTest, aShortNameKeepsTheFilesLongName) {
    const fs::path file = dir / "out/Report for 2024.txt";
    writeFile(file, "old");
    wchar_t given[MAX_PATH];
    const DWORD length = ::GetShortPathNameW(file.c_str(), given, MAX_PATH);
    const fs::path shortPath(std::wstring(given, length));
    if (length == 0 || shortPath.filename() == file.filename())
        GTEST_SKIP() << "no short names on this volume";
    host.asOpened = shortPath.filename().wstring();
    Told told;
    files.checkCopy(win(dir / "source.txt"), win(shortPath), told);
    files.copyFile(win(dir / "source.txt"), win(shortPath), told);
    for (const std::u16string& written : told.written)
        EXPECT_TRUE(written.ends_with(u"\\Report for 2024.txt")) << narrow(written);
    EXPECT_EQ(told.written.size(), 2u);
    EXPECT_EQ(readFile(file), "new content");
    EXPECT_EQ(listing(dir / "out"), (std::vector<std::string>{"Report for 2024.txt", "plain.txt"}));
}

// The host's file services, elevated through UAC or not, as Wine cannot choose.
struct ElevatedFiles : HostFiles {
    bool asElevated = false;
    bool elevated() override { return asElevated; }
};

// Elevated, the drives the user mapped are another logon session's: a folder on a missing
// letter says so and is out of reach, not missing
// (blogs.msdn.microsoft.com/cjacks/2007/02/19/mapped-network-drives-with-uac-on-windows-vista).
TEST(ElevatedRun, aMissingDriveLetterMayBeTheUsersMappedOne) {
    std::u16string folder = u"Y:\\folder";
    while (::GetLogicalDrives() & (1u << (folder[0] - u'A')))
        --folder[0];
    ElevatedFiles files;
    for (const bool elevated : {false, true}) {
        std::u16string unreachable;
        files.asElevated = elevated;
        EXPECT_FALSE(IsFolder(files, folder, &unreachable));
        EXPECT_EQ(unreachable, elevated ? u"an elevated run may not see mapped drives" : u"");
    }
}

#endif

// The rows below need what only the POSIX host has: /proc, fork, kernels without anonymous
// files, ACLs, other users.
#ifndef _WIN32

namespace {

// A folder marked append-only while this lives; not marked where it cannot be (needs root and
// a file system with the flag).
struct AppendOnly {
    fs::path folder;
    bool marked = std::system(("chattr +a '" + folder.string() + "' 2>/dev/null").c_str()) == 0;
    ~AppendOnly() {
        if (marked)
            (void)!std::system(("chattr -a '" + folder.string() + "'").c_str());
    }
};

} // namespace

TEST_F(CopySequenceTest, aFileThatSaysItIsEmptyButIsNotFailsAndAnEmptyOneCopies) {
    EXPECT_EQ(copyOutcome(files, u"Z:\\proc\\self\\status", win(dir / "out/plain.txt")),
              refused(Refusal::SourceChanged));
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "old");
    writeFile(dir / "empty.txt", "");
    EXPECT_EQ(copyOutcome(files, win(dir / "empty.txt"), win(dir / "out/plain.txt")), "copied");
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "");
}

namespace {

// What a host may lack: a kernel /proc, a way to name an anonymous file, or anonymous files at
// all.
struct Lacking {
    bool procLinks = false;
    bool anonymousLinks = false;
    bool anonymousFiles = false;
};

// This host's primitives as on a host that lacks what `Lacking` says.
class LackingPrimitives : public PosixCopyPrimitives {
  public:
    explicit LackingPrimitives(Lacking lacking)
        : PosixCopyPrimitives(!lacking.procLinks), m_lacking(lacking) {}

    Result<NewFile> createAnonymous(const CopyTarget& target, std::uint32_t permissions) override {
        if (m_lacking.anonymousFiles)
            return std::make_error_code(std::errc::not_supported);
        return PosixCopyPrimitives::createAnonymous(target, permissions);
    }
    std::error_code linkAnonymous(NewFile& file, const CopyTarget& target,
                                  const HostString& name) override {
        if (m_lacking.anonymousLinks)
            return std::make_error_code(std::errc::not_supported);
        return PosixCopyPrimitives::linkAnonymous(file, target, name);
    }

  private:
    Lacking m_lacking;
};

} // namespace

// Each way of naming the new file: anonymous through /proc, through AT_EMPTY_PATH, and a
// named temporary file where neither can be had.
TEST_F(CopySequenceTest, everyWayOfNamingTheNewFileCopiesAndLeavesNothing) {
    const std::vector<Lacking> ways = {{},
                                       {.procLinks = true},
                                       {.procLinks = true, .anonymousLinks = true},
                                       {.anonymousFiles = true}};
    for (std::size_t way = 0; way < ways.size(); ++way) {
        PosixFileServices lacking(std::make_unique<LackingPrimitives>(ways[way]));
        lacking.observeCopies(&points);
        points.at = nullptr;
        const auto copy = [&](const std::string& target) {
            return copyOutcome(lacking, win(dir / "source.txt"), win(dir / target));
        };
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

TEST_F(CopySequenceTest, aKilledCopyLeavesNothingBehind) {
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

// A folder that takes names but never gives one up keeps no temporary name: a present target
// is written in place, an absent one linked straight from the anonymous file, and where there
// is none the copy is refused. (A dry run cannot tell that a file system has no anonymous files
// without making one, so the last row has no dry run.)
TEST_F(CopySequenceTest, anAppendOnlyFolderGetsNoNameItCannotRemove) {
    const fs::path log = dir / "log";
    fs::create_directory(log);
    writeFile(log / "present.txt", "old");
    const AppendOnly appendOnly{log};
    if (!appendOnly.marked)
        GTEST_SKIP() << "cannot mark a folder append-only here (needs root and a file system "
                        "with the flag)";
    const std::u16string source = win(dir / "source.txt");
    for (const char* target : {"log/present.txt", "log/absent.txt"}) {
        const std::string foreseen = copyResult(files, source, win(dir / target), true);
        EXPECT_EQ(copyResult(files, source, win(dir / target), false), foreseen) << target;
        EXPECT_EQ(readFile(dir / target), "new content") << target;
    }
    EXPECT_EQ(copyResult(files, source, win(log / "present.txt"), true), "in place");
    PosixFileServices named(std::make_unique<LackingPrimitives>(Lacking{.anonymousFiles = true}));
    EXPECT_EQ(copyOutcome(named, source, win(log / "other.txt")), refused(Refusal::AppendOnly));
    EXPECT_FALSE(fs::exists(log / "other.txt"));
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

namespace {

std::int64_t allocated(const fs::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return std::int64_t{info.st_blocks} * 512;
}

// A file of `size` bytes with data only at its start and in its middle.
void writeSparse(const fs::path& path, std::int64_t size) {
    writeFile(path, "head");
    fs::resize_file(path, static_cast<std::uintmax_t>(size));
    std::fstream(path, std::ios::in | std::ios::out | std::ios::binary).seekp(size / 2) << "middle";
}

} // namespace

// A private procfs stands for every file system of settings: nothing there is a target, in the
// dry run too. /proc/self/comm names this test itself, harmless should it be written.
TEST_F(CopySequenceTest, theSystemsSettingsAreNoTargets) {
    const fs::path proc = dir / "proc";
    fs::create_directory(proc);
    if (::mount("proc", proc.c_str(), "proc", 0, nullptr) != 0)
        GTEST_SKIP() << "cannot mount a private procfs here (needs root)";
    for (const char* target : {"proc/self/comm", "proc/self/absent"})
        for (const bool dryRun : {true, false})
            EXPECT_EQ(copyResult(files, win(dir / "source.txt"), win(dir / target), dryRun),
                      refused(Refusal::PseudoFs))
                << target << dryRun;
    ::umount2(proc.c_str(), MNT_DETACH);
}

// Written over in place, a source that changes once the first byte went over is a failure that
// says the target was written in part, never a refusal ("not written").
TEST_F(CopySequenceTest, inPlaceAChangingSourceIsAFailureWrittenInPart) {
    const fs::path source = dir / "big.bin", log = dir / "log";
    fs::create_directory(log);
    writeFile(log / "target.bin", std::string(9 << 20, 'o'));
    writeFile(source, std::string(9 << 20, 'n'));
    const AppendOnly appendOnly{log};
    if (!appendOnly.marked)
        GTEST_SKIP() << "cannot mark a folder append-only here, to write in place";
    at(CopyPoint::ContentCopied, [&, changed = false]() mutable {
        if (!std::exchange(changed, true))
            writeFile(source, "changed");
    });
    RecordingListener listener;
    try {
        files.copyFile(win(source), win(log / "target.bin"), listener);
        ADD_FAILURE() << "copied";
    } catch (const PlatformError& error) {
        EXPECT_EQ(error.refusal(), Refusal::None);
        EXPECT_EQ(narrow(error.description()),
                  "written in part: " +
                      narrow(PlatformError::refused(Refusal::SourceChanged).description()));
    }
}

// A source with holes is copied range by range of data and the copy keeps the holes; written
// in place (here: in an append-only folder), no old byte survives in them.
TEST_F(CopySequenceTest, aSourceWithHolesIsCopiedWithItsHoles) {
    constexpr std::int64_t kSize = 32 << 20;
    const fs::path sparse = dir / "sparse.bin", log = dir / "log";
    writeSparse(sparse, kSize);
    if (allocated(sparse) >= kSize / 2)
        GTEST_SKIP() << "this file system keeps no holes";
    const std::string content = readFile(sparse);
    EXPECT_EQ(copyOutcome(files, win(sparse), win(dir / "out/new.bin")), "copied");
    EXPECT_EQ(readFile(dir / "out/new.bin"), content);
    EXPECT_LT(allocated(dir / "out/new.bin"), kSize / 2);

    fs::create_directory(log);
    writeFile(log / "dense.bin", std::string(kSize + 4096, 'x'));
    const AppendOnly appendOnly{log};
    if (!appendOnly.marked)
        GTEST_SKIP() << "cannot mark a folder append-only here, to write in place";
    EXPECT_EQ(copyResult(files, win(sparse), win(log / "dense.bin"), false), "in place");
    EXPECT_EQ(readFile(log / "dense.bin"), content);
    EXPECT_LT(allocated(log / "dense.bin"), kSize / 2);
}

namespace {

// A loop-mounted image of a file system made by `mkfs`, unmounted (detached at once: the copy
// holds the file system it wrote to until the run ends) when dropped. Empty where it cannot
// be made here (needs root and the file system's tools).
struct LoopMount {
    fs::path mount;
    LoopMount(const fs::path& dir, const std::string& mkfs, int megabytes) {
        const fs::path image = dir / "fs.img", at = dir / "mnt";
        fs::create_directories(at);
        writeFile(image, "");
        fs::resize_file(image, static_cast<std::uintmax_t>(megabytes) << 20);
        if (::geteuid() == 0 &&
            std::system((mkfs + " '" + image.string() + "' >/dev/null 2>&1 && mount -o loop '" +
                         image.string() + "' '" + at.string() + "'")
                            .c_str()) == 0)
            mount = at;
    }
    ~LoopMount() {
        if (!mount.empty())
            (void)!std::system(("umount -l '" + mount.string() + "'").c_str());
    }
};

} // namespace

struct RoomRow {
    const char* name;
    const char* mkfs;
    int megabytes;
    int leftMegabytes; // filled up to this much free space; 0: not filled
    std::vector<std::pair<int, std::string>> copies; // source megabytes and outcome, in order
};

class CopyRoomTest : public CopySequenceTest, public testing::WithParamInterface<RoomRow> {};

// Written in place, the copy goes on only once the space its growth needs is secured (reserved,
// or the tail written first); otherwise it is refused, the target whole and the space given
// back. Btrfs copies every block written over and its free figure is an estimate, so there a
// margin must be left over. The dry run asks the same questions.
TEST_P(CopyRoomTest, inPlaceWithoutRoomIsRefusedAndTheTargetStaysWhole) {
    const RoomRow& row = GetParam();
    const LoopMount fileSystem(dir / row.name, row.mkfs, row.megabytes);
    if (fileSystem.mount.empty())
        GTEST_SKIP() << "cannot make and mount the " << row.name << " image (needs root and "
                     << row.mkfs << ")";
    const fs::path log = fileSystem.mount / "log";
    fs::create_directory(log);
    const std::string old(8 << 20, 'o');
    writeFile(log / "target.bin", old);
    const AppendOnly appendOnly{log};
    ASSERT_TRUE(appendOnly.marked);
    if (row.leftMegabytes) {
        const auto room = static_cast<std::int64_t>(fs::space(fileSystem.mount).available);
        writeFile(fileSystem.mount / "fill",
                  std::string(static_cast<std::size_t>(room - (row.leftMegabytes << 20)), 'f'));
    }
    std::string was = old;
    for (const auto& [size, outcome] : row.copies) {
        SCOPED_TRACE(size);
        writeFile(dir / "big.bin", std::string(static_cast<std::size_t>(size) << 20, 'n'));
        EXPECT_EQ(copyResult(files, win(dir / "big.bin"), win(log / "target.bin"), true), outcome);
        ::sync();
        const auto free = fs::space(fileSystem.mount).available;
        EXPECT_EQ(copyResult(files, win(dir / "big.bin"), win(log / "target.bin"), false), outcome);
        if (outcome == "in place")
            was = readFile(dir / "big.bin");
        EXPECT_TRUE(readFile(log / "target.bin") == was) << "the target is torn";
        ::sync();
        // All given back but what the file system's own bookkeeping may have kept.
        if (outcome != "in place") {
            EXPECT_NEAR(static_cast<double>(fs::space(fileSystem.mount).available),
                        static_cast<double>(free), 64 << 10)
                << "the space is kept";
        }
    }
}

// Over an 8 MiB target: 16 MiB grows it by 8, 12 by 4, 8 not at all; on btrfs every block
// written needs new space.
INSTANTIATE_TEST_SUITE_P(
    Rows, CopyRoomTest,
    testing::Values(RoomRow{.name = "ext4WithoutExtents",
                            .mkfs = "mkfs.ext4 -q -O ^extent,^64bit",
                            .megabytes = 32,
                            .leftMegabytes = 6,
                            .copies = {{16, refused(Refusal::NoSpace)}, {12, "in place"}}},
                    RoomRow{.name = "ext4",
                            .mkfs = "mkfs.ext4 -q",
                            .megabytes = 32,
                            .leftMegabytes = 6,
                            .copies = {{16, refused(Refusal::NoSpace)}, {12, "in place"}}},
                    RoomRow{.name = "ext4Full",
                            .mkfs = "mkfs.ext4 -q",
                            .megabytes = 32,
                            .leftMegabytes = 1,
                            .copies = {{8, "in place"}}},
                    RoomRow{.name = "smallBtrfs",
                            .mkfs = "mkfs.btrfs -q --mixed",
                            .megabytes = 64,
                            .leftMegabytes = 0,
                            .copies = {{64, refused(Refusal::NoSpace)}, {2, "in place"}}},
                    RoomRow{.name = "btrfs",
                            .mkfs = "mkfs.btrfs -q",
                            .megabytes = 256,
                            .leftMegabytes = 0,
                            .copies = {{2, "in place"}}}),
    [](const auto& info) { return info.param.name; });

// On a file system that shares extents (XFS with reflinks), a new copy shares the source's
// data rather than writing it again, holes or not.
TEST_F(CopySequenceTest, aCopyOnAReflinkFileSystemSharesTheSourcesData) {
    const LoopMount fileSystem(dir / "xfs", "mkfs.xfs -q -m reflink=1", 300);
    if (fileSystem.mount.empty())
        GTEST_SKIP() << "cannot make and mount an XFS image with reflinks (needs root, xfsprogs)";
    const fs::path dense = fileSystem.mount / "dense.bin", sparse = fileSystem.mount / "sparse.bin";
    std::string data(64 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); i += 4096)
        data[i] = static_cast<char>(i / 4096);
    writeFile(dense, data);
    writeSparse(sparse, 64 << 20);
    ::sync();
    for (const fs::path& source : {dense, sparse}) {
        SCOPED_TRACE(source.filename().string());
        const fs::path copy = fileSystem.mount / ("copy-" + source.filename().string());
        const auto before = fs::space(fileSystem.mount).available;
        EXPECT_EQ(copyOutcome(files, win(source), win(copy)), "copied");
        ::sync();
        EXPECT_EQ(readFile(copy), readFile(source));
        EXPECT_LT(before - fs::space(fileSystem.mount).available, 1u << 20) << "data written again";
    }
}

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

// What this host's primitives report instead of what they find: facts Wine cannot give (an
// encrypted source, a new file not kept encrypted, a target another program holds) and a
// failure this machine does not meet.
struct Report {
    bool encryptedSource = false;
    bool volumeEncrypts = true;
    bool keepsOwner = true; // false: the copy is written in place
    bool plainNewFiles = false;
    bool heldElsewhere = false; // the target does not open to be written over
    std::errc linkFails{};      // naming an anonymous file fails so
};

class ReportingPrimitives : public PosixCopyPrimitives {
  public:
    explicit ReportingPrimitives(Report report) : report(report) {}

    Result<CopySource> openSource(const HostString& path) override {
        Result<CopySource> source = PosixCopyPrimitives::openSource(path);
        if (!source.error())
            source->facts.encrypted = report.encryptedSource;
        return source;
    }
    bool folderKeepsEncrypted(const CopyTarget&) override { return report.volumeEncrypts; }
    Result<bool> mayKeepOwner(const CopyTarget& target) override {
        if (!report.keepsOwner)
            return false;
        return PosixCopyPrimitives::mayKeepOwner(target);
    }
    Result<NewFile> createNamed(const CopyTarget& target, const HostString& name,
                                std::uint32_t permissions, bool encrypted) override {
        created.push_back(encrypted);
        Result<NewFile> file =
            PosixCopyPrimitives::createNamed(target, name, permissions, encrypted);
        if (!file.error() && report.plainNewFiles)
            file->encrypted = false;
        return file;
    }
    Result<OsHandle> openInPlace(CopyTarget& target, FileFacts& opened) override {
        if (report.heldElsewhere)
            return std::make_error_code(std::errc::device_or_resource_busy);
        return PosixCopyPrimitives::openInPlace(target, opened);
    }
    std::error_code linkAnonymous(NewFile& file, const CopyTarget& target,
                                  const HostString& name) override {
        if (report.linkFails != std::errc{})
            return std::make_error_code(report.linkFails);
        return PosixCopyPrimitives::linkAnonymous(file, target, name);
    }

    Report report;
    std::vector<bool> created; // each new file, whether it was asked to be encrypted
};

struct ReportRow {
    const char* name;
    Report report;
    const char* target;
    std::string outcome;
};

class CopyReportTest : public CopySequenceTest, public testing::WithParamInterface<ReportRow> {};

// The primitives report what they find and the sequence decides: it refuses over a fact, and a
// host's failure is the copy's, never a reason to try another way.
TEST_P(CopyReportTest, theSequenceDecidesOverWhatTheHostReports) {
    const ReportRow& row = GetParam();
    PosixFileServices reporting(std::make_unique<ReportingPrimitives>(row.report));
    EXPECT_EQ(copyOutcome(reporting, win(dir / "source.txt"), win(dir / row.target)), row.outcome);
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "old");
    EXPECT_FALSE(fs::exists(dir / "out/new.txt"));
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CopyReportTest,
    testing::Values(ReportRow{.name = "newFileNotKeptEncrypted",
                              .report = {.encryptedSource = true, .plainNewFiles = true},
                              .target = "out/new.txt",
                              .outcome = refused(Refusal::NotEncrypted)},
                    ReportRow{.name = "targetHeldElsewhere",
                              .report = {.keepsOwner = false, .heldElsewhere = true},
                              .target = "out/plain.txt",
                              .outcome = refused(Refusal::Busy)},
                    ReportRow{.name = "newNameFailsOtherwise",
                              .report = {.linkFails = std::errc::io_error},
                              .target = "out/new.txt",
                              .outcome = refused(Refusal::None)},
                    ReportRow{.name = "temporaryNameFailsOtherwise",
                              .report = {.linkFails = std::errc::io_error},
                              .target = "out/plain.txt",
                              .outcome = refused(Refusal::None)}),
    [](const auto& info) { return info.param.name; });

// Encrypted content never becomes plain text: a new file is asked to be encrypted, and where the
// volume keeps nothing encrypted, or a plain file would be written over in place, the dry run and
// the copy refuse alike, the target untouched.
TEST_F(CopySequenceTest, encryptedContentIsNeverCopiedToPlainText) {
    ReportingPrimitives reporting({.encryptedSource = true});
    CopySequence sequence(reporting);
    const std::string source = (dir / "source.txt").string();
    const std::string plain = (dir / "out/plain.txt").string();
    EXPECT_EQ(sequence.copy(source, (dir / "out/new.txt").string()), CopyOutcome::Created);
    EXPECT_EQ(reporting.created, std::vector<bool>{true});
    const auto refusal = [&](bool dryRun) {
        try {
            dryRun ? sequence.check(source, plain) : sequence.copy(source, plain);
        } catch (const PlatformError& error) {
            return error.refusal();
        }
        return Refusal::None;
    };
    reporting.report.keepsOwner = false;
    EXPECT_EQ(refusal(true), Refusal::NotEncrypted);
    EXPECT_EQ(refusal(false), Refusal::NotEncrypted);
    reporting.report.keepsOwner = true;
    reporting.report.volumeEncrypts = false;
    EXPECT_EQ(refusal(true), Refusal::NotEncrypted);
    EXPECT_EQ(readFile(dir / "out/plain.txt"), "old");
}

struct AheadRow {
    const char* name;
    // What happens between the file written ahead and its turn.
    std::function<void(const fs::path&)> meanwhile;
    bool taken; // the turn names the file written ahead
};

class WrittenAheadTest : public CopySequenceTest, public testing::WithParamInterface<AheadRow> {};

// A file written ahead takes its target's name only where it is what the turn would write now;
// otherwise it goes, and the turn writes the target itself from the source as it is then.
TEST_P(WrittenAheadTest, isTakenOnlyWhereItFitsItsTurn) {
    PosixCopyPrimitives writer, turn;
    CopySequence ahead(writer), sequence(turn);
    const std::string source = (dir / "source.txt").string();
    const std::string target = (dir / "out/plain.txt").string();
    CopySequence::Ahead given{ahead.prepare(source, target), {}};
    ASSERT_TRUE(given.file);
    GetParam().meanwhile(dir.path());
    bool writesItself = false;
    given.writingHere = [&] { writesItself = true; };
    EXPECT_EQ(sequence.copy(source, target, &given), CopyOutcome::Replaced);
    EXPECT_EQ(writesItself, !GetParam().taken);
    EXPECT_EQ(readFile(target), readFile(source));
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WrittenAheadTest,
    testing::Values(
        AheadRow{.name = "nothingChanged", .meanwhile = [](const fs::path&) {}, .taken = true},
        AheadRow{.name = "sourceRewrittenItsSizeAndTimeKept",
                 .meanwhile =
                     [](const fs::path& at) {
                         const struct stat was = statOf(at / "source.txt");
                         writeFile(at / "source.txt", "NEW CONTENT");
                         const timespec times[2] = {was.st_atim, was.st_mtim};
                         ::utimensat(AT_FDCWD, (at / "source.txt").c_str(), times, 0);
                     },
                 .taken = false},
        AheadRow{.name = "sourceReplaced",
                 .meanwhile =
                     [](const fs::path& at) {
                         writeFile(at / "next.txt", "next");
                         fs::rename(at / "next.txt", at / "source.txt");
                     },
                 .taken = false},
        AheadRow{.name = "folderSwapped",
                 .meanwhile =
                     [](const fs::path& at) {
                         fs::rename(at / "out", at / "out.old");
                         fs::create_directory(at / "out");
                         writeFile(at / "out/plain.txt", "old");
                     },
                 .taken = false},
        AheadRow{
            .name = "targetMadePrivate",
            .meanwhile = [](const fs::path& at) { ::chmod((at / "out/plain.txt").c_str(), 0600); },
            .taken = false}),
    [](const auto& info) { return info.param.name; });

TEST_F(CopySequenceTest, aReplacedFileKeepsItsOwnAclAttributesAndModeButNoSetId) {
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
    gid_t fileGroup;
    mode_t fileMode;
    std::string outcome;
    bool sameInode;
};

class CopyPermissionTest : public CopySequenceTest,
                           public testing::WithParamInterface<PermissionRow> {};

// Root sets the scene, then an ordinary user (uid 65534) runs the dry run and then the copy:
// both must say the same.
TEST_P(CopyPermissionTest, theFileItselfMustBeWritableAndTheDryRunSaysSo) {
    const PermissionRow& row = GetParam();
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give files to other users";
    const fs::path folder = dir / "shared", target = folder / "target.txt";
    ::chmod(dir.path().c_str(), 0755);
    fs::create_directory(folder);
    if (row.fileMode) {
        writeFile(target, "old");
        ASSERT_EQ(::chown(target.c_str(), row.fileOwner, row.fileGroup), 0);
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
        const std::string outcome = copyResult(user, win(dir / "source.txt"), win(target), true) +
                                    "|" +
                                    copyResult(user, win(dir / "source.txt"), win(target), false);
        (void)!::write(pipeEnds[1], outcome.data(), outcome.size());
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    char buffer[64] = {};
    (void)!::read(pipeEnds[0], buffer, sizeof buffer - 1);
    ::close(pipeEnds[0]);
    ::waitpid(child, nullptr, 0);

    const bool copied = row.outcome.find("refused") == std::string::npos;
    EXPECT_EQ(std::string(buffer), row.outcome + "|" + row.outcome);
    if (row.fileMode) {
        EXPECT_EQ(readFile(target), copied ? "new content" : "old");
        EXPECT_EQ(statOf(target).st_ino == before.st_ino, row.sameInode);
        EXPECT_EQ(statOf(target).st_mode & 07777, row.fileMode);
        EXPECT_EQ(statOf(target).st_uid, row.fileOwner) << "no user takes another's file";
    } else {
        EXPECT_FALSE(fs::exists(target));
    }
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, CopyPermissionTest,
                         testing::Values(PermissionRow{.name = "othersFileInOwnFolder",
                                                       .folderOwner = 65534,
                                                       .folderMode = 0755,
                                                       .fileOwner = 0,
                                                       .fileGroup = 0,
                                                       .fileMode = 0644,
                                                       .outcome = refused(Refusal::NotWritable),
                                                       .sameInode = true},
                                         PermissionRow{.name = "ownFileInOwnFolder",
                                                       .folderOwner = 65534,
                                                       .folderMode = 0755,
                                                       .fileOwner = 65534,
                                                       .fileGroup = 65534,
                                                       .fileMode = 0640,
                                                       .outcome = "replaced",
                                                       .sameInode = false},
                                         PermissionRow{.name = "othersFileWritableByGroupInPlace",
                                                       .folderOwner = 65534,
                                                       .folderMode = 0755,
                                                       .fileOwner = 0,
                                                       .fileGroup = 65534,
                                                       .fileMode = 0660,
                                                       .outcome = "in place",
                                                       .sameInode = true},
                                         PermissionRow{.name = "openFileInClosedFolderInPlace",
                                                       .folderOwner = 0,
                                                       .folderMode = 0755,
                                                       .fileOwner = 0,
                                                       .fileGroup = 0,
                                                       .fileMode = 0666,
                                                       .outcome = "in place",
                                                       .sameInode = true},
                                         PermissionRow{
                                             .name = "folderOwnersFileInStickyFolderInPlace",
                                             .folderOwner = 1234,
                                             .folderMode = 01777,
                                             .fileOwner = 1234,
                                             .fileGroup = 1234,
                                             .fileMode = 0666,
                                             .outcome = "in place",
                                             .sameInode = true},
                                         PermissionRow{.name = "plantedFileInStickyFolderRefused",
                                                       .folderOwner = 0,
                                                       .folderMode = 01777,
                                                       .fileOwner = 1234,
                                                       .fileGroup = 1234,
                                                       .fileMode = 0666,
                                                       .outcome = refused(Refusal::ForeignInSticky),
                                                       .sameInode = true},
                                         PermissionRow{.name = "absentInClosedFolder",
                                                       .folderOwner = 0,
                                                       .folderMode = 0755,
                                                       .fileOwner = 0,
                                                       .fileGroup = 0,
                                                       .fileMode = 0,
                                                       .outcome = refused(Refusal::None),
                                                       .sameInode = false}),
                         [](const auto& info) { return info.param.name; });

struct LinkRow {
    const char* name;
    const char* target;
    std::string outcome;      // of the dry run and of the copy
    const char* written = ""; // the file that then holds the new content
};

class CopyLinkTest : public CopySequenceTest, public testing::WithParamInterface<LinkRow> {};

// Another user's link, as the last name, a folder on the way or a link of a chain, is followed
// only to that user's own file or folder, for root too: whoever may write a folder cannot turn
// a root copy against a file they could not write. Ann is uid 1000, Bob 1001.
TEST_P(CopyLinkTest, anotherUsersLinkLeadsOnlyToTheirOwn) {
    const LinkRow& row = GetParam();
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give links and folders to other users";
    const auto give = [&](const char* path, uid_t owner) {
        ASSERT_EQ(::lchown((dir / path).c_str(), owner, owner), 0) << path;
    };
    const auto link = [&](const char* to, const char* path, uid_t owner) {
        fs::create_symlink(to, dir / path);
        give(path, owner);
    };
    fs::create_directories(dir / "ann/box");
    fs::create_directories(dir / "bob");
    fs::create_directories(dir / "root");
    writeFile(dir / "root/only.txt", "old");
    ::chmod((dir / "root/only.txt").c_str(), 0600);
    writeFile(dir / "ann/mine.txt", "old");
    writeFile(dir / "bob/bobs.txt", "old");
    for (const char* path : {"ann", "ann/box", "ann/mine.txt"})
        give(path, 1000);
    for (const char* path : {"bob", "bob/bobs.txt"})
        give(path, 1001);
    link("../root/only.txt", "ann/report.txt", 1000);
    link("../real", "ann/etc", 1000);
    link("mine.txt", "ann/own.txt", 1000);
    link("box", "ann/sub", 1000);
    link("bobs.txt", "bob/next.txt", 1001);
    link("../bob/next.txt", "ann/chain.txt", 1000);
    link("../ann/report.txt", "out/via.txt", 0);

    const std::u16string source = win(dir / "source.txt"), target = win(dir / row.target);
    EXPECT_EQ(copyResult(files, source, target, true), row.outcome) << "dry run";
    EXPECT_EQ(copyResult(files, source, target, false), row.outcome);
    std::map<std::string, std::string> after = {{"root/only.txt", "old"},
                                                {"real/file.txt", "old"},
                                                {"ann/mine.txt", "old"},
                                                {"bob/bobs.txt", "old"},
                                                {"ann/box/new.txt", ""}};
    if (*row.written)
        after[row.written] = "new content";
    for (const auto& [file, content] : after)
        EXPECT_EQ(fs::exists(dir / file) ? readFile(dir / file) : "", content) << file;
}

INSTANTIATE_TEST_SUITE_P(Rows, CopyLinkTest,
                         testing::Values(LinkRow{.name = "lastNameToRootsFile",
                                                 .target = "ann/report.txt",
                                                 .outcome = refused(Refusal::ForeignLink)},
                                         LinkRow{.name = "folderToRootsFolder",
                                                 .target = "ann/etc/file.txt",
                                                 .outcome = refused(Refusal::ForeignLink)},
                                         LinkRow{.name = "chainToAnotherUsersFile",
                                                 .target = "ann/chain.txt",
                                                 .outcome = refused(Refusal::ForeignLink)},
                                         LinkRow{.name = "ownLinkThroughAnotherUsersLink",
                                                 .target = "out/via.txt",
                                                 .outcome = refused(Refusal::ForeignLink)},
                                         LinkRow{.name = "lastNameToItsOwnersFile",
                                                 .target = "ann/own.txt",
                                                 .outcome = "replaced",
                                                 .written = "ann/mine.txt"},
                                         LinkRow{.name = "chainWithinOneUser",
                                                 .target = "bob/next.txt",
                                                 .outcome = "replaced",
                                                 .written = "bob/bobs.txt"},
                                         LinkRow{.name = "folderToItsOwnersFolder",
                                                 .target = "ann/sub/new.txt",
                                                 .outcome = "created",
                                                 .written = "ann/box/new.txt"}),
                         [](const auto& info) { return info.param.name; });

#endif
