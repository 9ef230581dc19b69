#include "batch/BatchCommand.h"
#include "base/Text.h"
#include "batch/ProgressDisplay.h"
#include "batch/ReceiptWriter.h"
#include "platform/Console.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <sstream>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::string receipt, err;
};

} // namespace

class BatchCommandTest : public testing::Test {
  protected:
    void SetUp() override {
        writeFile(dir / "source.txt", "payload");
        fs::create_directory(dir / "out");
        writeFile(dir / "out/old.txt", "old");
        writeFile(dir / "out/readonly.txt", "keep");
        makeReadOnly(dir / "out/readonly.txt");
    }
    std::string out(const std::string& name) const { return (dir / "out" / name).string(); }
    void list(const std::string& text) { writeFile(dir / "list.txt", text); }
    // Standard output is a string unless `out` is given.
    Outcome run(std::vector<std::string> arguments, std::ostream* out = nullptr) {
        std::vector<std::u16string> wideArguments;
        for (const std::string& argument : arguments)
            wideArguments.push_back(decodeUtf8Lossless(argument));
        std::ostringstream outStream, errStream;
        BatchConsole console{out ? *out : outStream, errStream, false};
        const int status = RunBatch(wideArguments, files, console);
        return {status, outStream.str(), errStream.str()};
    }
    Outcome receipt(std::vector<std::string> extra = {}) {
        extra.insert(extra.begin(), {"--receipt", "-"});
        extra.push_back((dir / "source.txt").string());
        extra.push_back((dir / "list.txt").string());
        return run(extra);
    }

    TempDir dir;
    FaultyFileServices files;
};

// One list gives every outcome; each line its row, in order. Names a POSIX host takes and
// Windows does not (a native path with "?", a control character) have a row per host.
TEST_F(BatchCommandTest, aMixedListGivesEachOutcomeItsRow) {
    const bool posix = files.mapNativeName(u"/x").has_value();
    const std::string odd = posix ? "100%\x01.txt" : "100%.txt";
    const std::vector<std::pair<std::string, std::string>> rows = {
        {out("ne\rw.txt") + "\r", out("new.txt") + "\tcreated\t"},
        {"   ", "\tblank\t"},
        {narrow(win(dir / "out/old.txt")), narrow(win(dir / "out/old.txt")) + "\treplaced\t"},
        {out("readonly.txt"), out("readonly.txt") + "\trefused\tread-only"},
        {(dir / "out" / "missing" / "x.txt").string(),
         (dir / "out" / "missing" / "x.txt").string() + "\tno-folder\t"},
        {"bare.txt", "bare.txt\tno-name\t"},
        {out("nul") + '\0' + ".txt", out("nul%00.txt") + "\tno-name\t"},
        {posix ? out("what?.txt") : "", posix ? out("what?.txt") + "\tno-name\t" : "\tblank\t"},
        {out("fails.txt"), out("fails.txt") + "\tfailed\tInjected copyFile failure"},
        {out(odd), out(posix ? "100%25%01.txt" : "100%25.txt") + "\tcreated\t"},
    };
    std::string text, expected;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        text += rows[i].first + (i + 1 < rows.size() ? "\n" : "");
        expected += std::to_string(i + 1) + "\t" + rows[i].second + "\n";
    }
    list(text);
    files.failOn("copyFile", 4);
    const Outcome result = receipt();
    EXPECT_EQ(result.receipt, expected);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(readFile(dir / "out/new.txt"), "payload");
    EXPECT_EQ(readFile(dir / "out/readonly.txt"), "keep");
    const std::string summary =
        posix ? "2 created, 1 replaced, 0 written in place, 4 skipped, 1 refused, 1 failed"
              : "2 created, 1 replaced, 0 written in place, 3 skipped, 1 refused, 1 failed";
    EXPECT_NE(result.err.find("quorvane-batch: Done.\nquorvane-batch: " + summary + "\n"),
              std::string::npos)
        << result.err;
}

TEST_F(BatchCommandTest, aWildcardSourceGivesARowPerMatchAndAMissingSourceIsNoSource) {
    fs::create_directory(dir / "logs");
    writeFile(dir / "logs/a.log", "A");
    writeFile(dir / "logs/b.log", "B");
    list(out("") + "\n");
    // In Windows form: a path of this system with a wildcard would name nothing.
    Outcome result =
        run({"--receipt", "-", narrow(win(dir / "logs")) + "\\*.log", (dir / "list.txt").string()});
    EXPECT_EQ(result.receipt, "1\t" + out("") + "\tcreated\ta.log\n1\t" + out("") +
                                  "\tcreated\tb.log\n2\t\tblank\t\n");
    EXPECT_EQ(result.status, 0);
    // A single leading backslash makes the source a share: found by the look-up (on the
    // current drive), never copied.
    {
        const InFolder inDir(dir.path());
        result = run({"--receipt", "-", narrow(win(dir / "source.txt")).substr(2),
                      (dir / "list.txt").string()});
    }
    EXPECT_EQ(result.receipt, "1\t" + out("") + "\tno-source\t\n2\t\tblank\t\n");
    EXPECT_EQ(result.status, 1);
}

TEST_F(BatchCommandTest, aDryRunWritesNothingAndSaysWhatWould) {
    list(out("new.txt") + "\n" + out("new.txt") + "\n" + out("old.txt") + "\n" +
         out("readonly.txt"));
    // Size and modification time of every file and folder (and the change time on POSIX).
    const auto snapshot = [&] {
        std::map<std::string, std::vector<long long>> all;
        for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
            std::vector<long long>& facts = all[entry.path().string()];
            facts.push_back(entry.is_directory() ? 0 : static_cast<long long>(entry.file_size()));
            facts.push_back(entry.last_write_time().time_since_epoch().count());
#ifndef _WIN32
            struct stat info {};
            ::lstat(entry.path().c_str(), &info);
            facts.push_back(info.st_ctim.tv_sec * 1'000'000'000LL + info.st_ctim.tv_nsec);
#endif
        }
        return all;
    };
    const auto before = snapshot();
    const Outcome result = receipt({"--dry-run"});
    EXPECT_EQ(result.receipt, "1\t" + out("new.txt") + "\twould-create\t\n2\t" + out("new.txt") +
                                  "\twould-replace\t\n3\t" + out("old.txt") +
                                  "\twould-replace\t\n4\t" + out("readonly.txt") +
                                  "\trefused\tread-only\n");
    EXPECT_EQ(snapshot(), before) << "nothing created or touched";
    EXPECT_EQ(result.err.find("Done."), std::string::npos) << "nothing was done";
    EXPECT_NE(result.err.find(
                  "quorvane-batch: dry run, nothing written: 1 would create, 2 would "
                  "replace, 0 would write in place, 0 would skip, 1 would refuse, 0 would fail\n"),
              std::string::npos)
        << result.err;
}

#ifndef _WIN32
// A link of this process's own user is followed, and the receipt names the file written, in
// the Windows form (a folder link and a last-name link, as the real and the dry run); another
// user's (uid 1000) towards root's folder is refused and root's file keeps its content.
TEST_F(BatchCommandTest, aLinkIsFollowedOnlyWhereItsOwnerMayAndTheReceiptSaysWhere) {
    fs::create_directory(dir / "ann");
    fs::create_symlink(dir / "out", dir / "via");
    fs::create_symlink("old.txt", dir / "out/link.txt");
    const std::string viaFolder = (dir / "via/new.txt").string(), viaName = out("link.txt");
    list(viaFolder + "\n" + viaName);
    const auto rows = [&](const std::string& created, const std::string& replaced) {
        return "1\t" + viaFolder + "\t" + created + "\t" + narrow(win(dir / "out/new.txt")) +
               "\n2\t" + viaName + "\t" + replaced + "\t" + narrow(win(dir / "out/old.txt")) + "\n";
    };
    EXPECT_EQ(receipt({"--dry-run"}).receipt, rows("would-create", "would-replace"));
    EXPECT_EQ(receipt().receipt, rows("created", "replaced"));
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a link to another user";
    fs::create_symlink(dir / "out", dir / "ann/dir");
    ASSERT_EQ(::lchown((dir / "ann/dir").c_str(), 1000, 1000), 0);
    writeFile(dir / "out/old.txt", "old");
    list((dir / "ann/dir/old.txt").string());
    for (const std::vector<std::string>& extra : {std::vector<std::string>{"--dry-run"}, {}})
        EXPECT_EQ(receipt(extra).receipt,
                  "1\t" + (dir / "ann/dir/old.txt").string() + "\trefused\tforeign-link\n");
    EXPECT_EQ(readFile(dir / "out/old.txt"), "old");
}
#endif

#ifndef _WIN32
// This process's standard output on another file or pipe for as long as it lives.
class StandardOutputOn {
  public:
    explicit StandardOutputOn(int fd) : m_saved(::dup(STDOUT_FILENO)) {
        std::cout.flush();
        std::fflush(stdout);
        ::dup2(fd, STDOUT_FILENO);
        ::close(fd);
    }
    ~StandardOutputOn() {
        std::cout.clear();
        std::clearerr(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
    }
    StandardOutputOn(const StandardOutputOn&) = delete;
    StandardOutputOn& operator=(const StandardOutputOn&) = delete;

  private:
    int m_saved;
};
#endif

// Each row names the receipt and the targets' folder, and says how the run of a two-line list
// must end; the inputs are never harmed, and a receipt that is one leaves nothing behind.
struct ReceiptRow {
    const char* name;
    // SOURCE, LIST, - or a path, relative ones below the test folder; after WIN: a path below
    // it in Windows form.
    std::string receipt;
    // The targets' folder: "out"; LONG, one past the host's longest path; CLOSED, one in a
    // folder its owner may not search (POSIX, unprivileged).
    std::string folder;
    int status;
    std::string message;                // a line standard error must hold
    std::string firstRow = {};          // the receipt's row for the first line, when it is readable
    std::vector<int> rowsAtCopies = {}; // the rows on disk as each copy starts (-1: not a file)
    std::string source = {}; // a name below the test folder in Windows form; source.txt if empty
    // For -, this process's standard output: APPEND-SOURCE, appending to the source (>>);
    // CLOSED-PIPE, a pipe that no one reads. Empty: a string, as for every other row.
    std::string standardOutput = {};
};

const std::string kIsAnInput = "is the file to copy or the list; nothing was done";

class BatchReceiptTest : public BatchCommandTest, public testing::WithParamInterface<ReceiptRow> {};

TEST_P(BatchReceiptTest, theReceiptRecordsEveryFinishedLineAndNeverHarmsAnInput) {
    const ReceiptRow& row = GetParam();
    const bool posix = files.mapNativeName(u"/x").has_value();
    if (!posix &&
        (row.receipt.starts_with("/") || row.folder != "out" || !row.standardOutput.empty()))
        GTEST_SKIP() << "a row for the POSIX host: a device, its path limit, its mode bits or "
                        "its descriptors";
    const bool inWindowsForm = row.receipt.starts_with("WIN:");
    const fs::path receipt = row.receipt == "SOURCE"        ? dir / "source.txt"
                             : row.receipt == "LIST"        ? dir / "list.txt"
                             : row.receipt.starts_with("/") ? fs::path(row.receipt)
                             : inWindowsForm                ? dir / row.receipt.substr(4)
                                                            : dir / row.receipt;
    fs::path folder = dir / "out";
    if (row.folder == "LONG") {
        for (int i = 0; i < 20; ++i)
            folder /= std::string(250, 'd');
    } else if (row.folder == "CLOSED") {
#ifndef _WIN32
        if (::geteuid() == 0)
            GTEST_SKIP() << "root reaches every folder; the unprivileged run takes this row";
#endif
        fs::create_directory(dir / "closed");
        fs::permissions(dir / "closed", fs::perms::none);
        folder = dir / "closed" / "in";
    }
    const std::string text = (folder / "a.txt").string() + "\n" + (folder / "b.txt").string();
    list(text);
    std::vector<int> rowsAtCopies;
    files.onCall = [&](const std::string& call) {
        if (call == "copyFile")
            rowsAtCopies.push_back(
                fs::is_regular_file(receipt)
                    ? static_cast<int>(std::ranges::count(readFile(receipt), '\n'))
                    : -1);
    };
    const bool existed = fs::exists(receipt);
    const std::vector<std::string> arguments = {"--receipt",
                                                row.receipt == "-" ? "-"
                                                : inWindowsForm    ? narrow(win(receipt))
                                                                   : receipt.string(),
                                                row.source.empty()
                                                    ? (dir / "source.txt").string()
                                                    : narrow(win(dir.path())) + "\\" + row.source,
                                                (dir / "list.txt").string()};
    Outcome result;
    if (row.standardOutput.empty()) {
        result = run(arguments);
    } else {
#ifndef _WIN32
        int fd = -1;
        if (row.standardOutput == "APPEND-SOURCE") {
            fd = ::open((dir / "source.txt").c_str(), O_WRONLY | O_APPEND);
        } else {
            int ends[2];
            ASSERT_EQ(::pipe(ends), 0);
            ::close(ends[0]);
            fd = ends[1];
        }
        ASSERT_GE(fd, 0);
        const StandardOutputOn redirected(fd);
        result = run(arguments, &std::cout);
#endif
    }
    if (row.folder == "CLOSED")
        fs::permissions(dir / "closed", fs::perms::owner_all);
    EXPECT_EQ(result.status, row.status) << result.err;
    EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
    EXPECT_EQ(rowsAtCopies, row.rowsAtCopies);
    EXPECT_EQ(readFile(dir / "source.txt"), "payload");
    EXPECT_EQ(readFile(dir / "list.txt"), text);
    if (row.message == kIsAnInput) {
        EXPECT_EQ(fs::exists(receipt), existed);
    }
    if (!row.firstRow.empty()) {
        const std::string first = "1\t" + (folder / "a.txt").string() + "\t";
        EXPECT_TRUE(readFile(receipt).starts_with(first + row.firstRow + "\n"))
            << readFile(receipt);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BatchReceiptTest,
    testing::Values(
        ReceiptRow{"isTheSource", "SOURCE", "out", 64, kIsAnInput, "", {}},
        ReceiptRow{"isTheListByAnotherSpelling", "out/../list.txt", "out", 64, kIsAnInput, "", {}},
        ReceiptRow{
            "rowWrittenAsItsLineEnds", "receipt.tsv", "out", 0, "2 created", "created\t", {0, 1}},
        ReceiptRow{"isATargetAndKeepsEveryRow",
                   "out/a.txt",
                   "out",
                   1,
                   "1 created, 0 replaced, 0 written in place, 0 skipped, 1 refused, 0 failed",
                   "refused\treceipt",
                   {0, 1}},
        ReceiptRow{"cannotBeWrittenStopsTheRun",
                   "/dev/full",
                   "out",
                   64,
                   "cannot write the receipt /dev/full: No space left on device",
                   "",
                   {-1}},
        ReceiptRow{"folderPastThePathLimit",
                   "receipt.tsv",
                   "LONG",
                   1,
                   "2 skipped",
                   "no-folder\tFile name too long",
                   {}},
        ReceiptRow{"folderOutOfReach",
                   "receipt.tsv",
                   "CLOSED",
                   1,
                   "2 skipped",
                   "no-folder\tPermission denied",
                   {}},
        ReceiptRow{.name = "standardOutputAppendsToTheSource",
                   .receipt = "-",
                   .folder = "out",
                   .status = 64,
                   .message = kIsAnInput,
                   .standardOutput = "APPEND-SOURCE"},
        ReceiptRow{.name = "standardOutputIsAClosedPipe",
                   .receipt = "-",
                   .folder = "out",
                   .status = 64,
                   .message = "cannot write the receipt to standard output: Broken pipe",
                   .rowsAtCopies = {-1},
                   .standardOutput = "CLOSED-PIPE"},
        ReceiptRow{.name = "wouldBeAMatchOfTheSource",
                   .receipt = "receipt.tsv",
                   .folder = "out",
                   .status = 64,
                   .message = kIsAnInput,
                   .source = "*.tsv"},
        ReceiptRow{.name = "inWindowsForm",
                   .receipt = "WIN:receipt.tsv",
                   .folder = "out",
                   .status = 0,
                   .message = "2 created",
                   .firstRow = "created\t",
                   .rowsAtCopies = {0, 1}}),
    [](const auto& info) { return info.param.name; });

struct StatusRow {
    const char* name;
    std::vector<std::string> arguments; // SOURCE, LIST and BAD stand for paths
    std::string list;
    int status;
    std::string message;       // a line standard error must hold
    std::string failCall = {}; // a file service to fail once
};

class BatchStatusTest : public BatchCommandTest, public testing::WithParamInterface<StatusRow> {};

TEST_P(BatchStatusTest, exitStatusesInTheirPrecedence) {
    const StatusRow& row = GetParam();
    list(row.list);
    if (!row.failCall.empty())
        files.failOn(row.failCall);
    std::vector<std::string> arguments;
    for (const std::string& argument : row.arguments)
        arguments.push_back(argument == "SOURCE" ? (dir / "source.txt").string()
                            : argument == "LIST" ? (dir / "list.txt").string()
                            : argument == "BAD"  ? (dir / "no/such/receipt.tsv").string()
                                                 : argument);
    const Outcome result = run(arguments);
    EXPECT_EQ(result.status, row.status) << result.err;
    EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
}

std::string lines(int count, const std::string& last) {
    return std::string(static_cast<std::size_t>(count - 1), '\n') + last;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BatchStatusTest,
    testing::Values(
        StatusRow{"noArguments", {}, "", 64, "expected FILE and LIST"},
        StatusRow{"oneInput", {"SOURCE"}, "", 64, "Usage:"},
        StatusRow{"unknownOption", {"--fast", "SOURCE", "LIST"}, "", 64, "--fast"},
        StatusRow{"receiptWithoutPath", {"SOURCE", "LIST", "--receipt"}, "", 64, "Usage:"},
        StatusRow{"receiptNotWritableBeforeAnything",
                  {"--receipt", "BAD", "", "LIST"},
                  "",
                  64,
                  "cannot write the receipt"},
        StatusRow{"emptyFile",
                  {"", "LIST"},
                  "",
                  2,
                  "quorvane-batch: You forgot to input file to copy and rename."},
        StatusRow{"emptyList", {"SOURCE", ""}, "", 2, "You forgot to input text file to use."},
        StatusRow{
            "missingList", {"SOURCE", "/no/such/list.txt"}, "", 2, "Text file to use not found."},
        StatusRow{"nativeNameWindowsCannotCarry",
                  {"/tmp/what?.txt", "LIST"},
                  "",
                  2,
                  "File to copy and rename not found."},
        StatusRow{"onlySkips",
                  {"SOURCE", "LIST"},
                  "\nbare.txt\n/no/such/folder/x\n",
                  0,
                  "0 created, 0 replaced, 0 written in place, 2 skipped, 0 refused, 0 failed"},
        StatusRow{"overflow",
                  {"SOURCE", "LIST"},
                  lines(32769, ""),
                  1,
                  "quorvane-batch: Overflow\nquorvane-batch: in Tarnwick2021/08/31.Form1."
                  "PushButton3_Click at line 138\nquorvane-batch: Please email"},
        StatusRow{"exactlyTheLastLine", {"SOURCE", "LIST"}, lines(32768, ""), 1, "at line 146"},
        // Read as little-endian all the same: one name, U+FFFE, which is no path.
        StatusRow{"bigEndianList",
                  {"SOURCE", "LIST"},
                  "\xFE\xFF",
                  0,
                  "quorvane-batch: the list starts with FE FF, the mark of big-endian UTF-16"},
        // No "Done." between the failure and the summary: it would claim the copies are on disk.
        StatusRow{"notOnDisk",
                  {"SOURCE", "LIST"},
                  "\n",
                  1,
                  "at line 148\nquorvane-batch: Please email screenshot of this message to "
                  "support@quorvane.example\nquorvane-batch: 0 created",
                  "makeDurable"}),
    [](const auto& info) { return info.param.name; });

// A second file system for the targets, where the host has one beside the temporary folder.
std::optional<fs::path> otherFileSystem() {
#ifdef _WIN32
    const fs::path shm = "Z:\\dev\\shm";
#else
    const fs::path shm = "/dev/shm";
    struct stat here {
    }, there{};
    if (::stat(fs::temp_directory_path().c_str(), &here) != 0 || ::stat(shm.c_str(), &there) != 0 ||
        here.st_dev == there.st_dev)
        return std::nullopt;
#endif
    std::error_code absent;
    return fs::is_directory(shm, absent) ? std::optional(shm) : std::nullopt;
}

// Written ahead or one target at a time, a list alternating between two file systems, with
// refusals, a failure and a missing folder among its lines, gives the same receipt, summary,
// status and files, and leaves no temporary file.
TEST_F(BatchCommandTest, writingAheadChangesNothingARunShows) {
    const std::optional<fs::path> elsewhere = otherFileSystem();
    if (!elsewhere)
        GTEST_SKIP() << "no second file system";
    const TempDir other(*elsewhere);
    const fs::path a = dir / "a", b = other / "b";
    const std::vector<fs::path> lines = {
        a / "new1.txt",   b / "new1.txt",   a / "readonly.txt", b / "old.txt",
        a / "gone/x.txt", b / "folder.txt", a / "old.txt",      b / "new1.txt",
        a / "fails.txt",  b / "hidden.txt", a / "new2.txt",     b / "new2.txt",
    };
    std::string text;
    for (const fs::path& line : lines)
        text += line.string() + "\n";
    list(text);
    const auto runIn = [&](const std::vector<std::string>& options) {
        for (const fs::path& folder : {a, b}) {
            std::error_code absent;
            fs::permissions(folder / "readonly.txt", fs::perms::owner_write, fs::perm_options::add,
                            absent);
            fs::remove_all(folder);
            fs::create_directories(folder / "folder.txt");
            writeFile(folder / "old.txt", "old");
            writeFile(folder / "readonly.txt", "keep");
            makeReadOnly(folder / "readonly.txt");
            writeFile(folder / "hidden.txt", "secret");
            hide(folder / "hidden.txt");
        }
        files.failOn("copyFile", 8);
        Outcome result = receipt(options);
        result.err = result.err.substr(result.err.rfind("quorvane-batch: "));
        for (const fs::path& folder : {a, b}) {
            EXPECT_EQ(leftovers(folder), std::vector<std::string>()) << folder;
            for (const auto& entry : fs::directory_iterator(folder))
                result.err += " " + entry.path().filename().string() + "=" +
                              (entry.is_directory() ? "folder" : readFile(entry.path()));
        }
        return result;
    };
    const Outcome ahead = runIn({}), oneAtATime = runIn({"--one-at-a-time"});
    EXPECT_EQ(ahead.receipt, oneAtATime.receipt);
    EXPECT_EQ(ahead.err, oneAtATime.err);
    EXPECT_EQ(ahead.status, oneAtATime.status);
    EXPECT_NE(ahead.receipt.find("\tfailed\tInjected copyFile failure"), std::string::npos)
        << ahead.receipt;
}


TEST_F(BatchCommandTest, helpAndVersionGoToStandardOutput) {
    EXPECT_EQ(run({"--version"}).receipt, "quorvane-batch " QUORVANE_VERSION "\n");
    const Outcome help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.receipt.starts_with("Usage: quorvane-batch")) << help.receipt;
}

struct ProgressRow {
    const char* name;
    bool terminal;
    int secondsIn; // into the run when a line ends
    std::string err;
};

class ProgressDisplayTest : public testing::TestWithParam<ProgressRow> {};

// A line that ends, a message and the end of the run: the progress is shown only where it can
// be taken away again, and never runs into a message.
TEST_P(ProgressDisplayTest, showsTheCountOnlyOnATerminalAfterASecond) {
    const ProgressRow& row = GetParam();
    ProgressDisplay::Clock::time_point now{};
    std::ostringstream err;
    ProgressDisplay progress(err, row.terminal, [&] { return now; });
    progress.start(10);
    now += std::chrono::seconds(row.secondsIn);
    progress.show(3);
    progress.say("Done.");
    progress.clear();
    EXPECT_EQ(err.str(), row.err);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProgressDisplayTest,
    testing::Values(ProgressRow{"notATerminal", false, 5, "quorvane-batch: Done.\n"},
                    ProgressRow{"withinTheFirstSecond", true, 0, "quorvane-batch: Done.\n"},
                    ProgressRow{"takenAwayBeforeAMessage", true, 1,
                                "\rquorvane-batch: 3 / 10\r\033[Kquorvane-batch: Done.\n"}),
    [](const auto& info) { return info.param.name; });

// An output file whose n-th write fails, remembering what it was given.
class FailingOutput : public OutputFile {
  public:
    explicit FailingOutput(int failAt) : m_failAt(failAt) {}
    bool isFileAt(std::u16string_view) override { return false; }
    std::optional<FileIdentity> identity() override { return std::nullopt; }
    void clear() override {}
    void write(std::string_view bytes) override {
        if (++m_writes == m_failAt)
            throw PlatformError(u"Injected write failure");
        written += bytes;
    }
    void close() override { closed = true; }

    std::string written;
    bool closed = false;

  private:
    int m_failAt, m_writes = 0;
};

struct EscapeRow {
    const char* name;
    std::u16string text;
    std::string written;
};

class ReceiptTextTest : public testing::TestWithParam<EscapeRow> {};

// One row is one line and four columns to every reader, and tells each name from every other;
// a detail is written by the same rule as a name.
TEST_P(ReceiptTextTest, escapesWhatCouldBreakARowOrBeTakenForAnother) {
    FailingOutput file(0);
    std::ostringstream err;
    ProgressDisplay progress(err, false);
    ReceiptWriter(&file, u"-", progress).row(0, GetParam().text, "failed", GetParam().text);
    EXPECT_EQ(file.written, "1\t" + GetParam().written + "\tfailed\t" + GetParam().written + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReceiptTextTest,
    testing::Values(EscapeRow{"percentAndControls", u"100%\t\r\n\x7F", "100%25%09%0D%0A%7F"},
                    EscapeRow{"strayByte",
                              u"a\xDCFF"
                              u"b",
                              "a%FFb"},
                    EscapeRow{"loneSurrogate", u"\xD800", "%ED%A0%80"},
                    EscapeRow{"pairAndAccents", u"\U0001F600\u00E9", "\xF0\x9F\x98\x80\xC3\xA9"},
                    EscapeRow{"lineBreaksToSomeReaders", u"a\u0085b\u2028c\u2029",
                              "a%C2%85b%E2%80%A8c%E2%80%A9"}),
    [](const auto& info) { return info.param.name; });

TEST(ReceiptWriterTest, aRowThatCannotBeWrittenIsSaidOnceAndEndsTheReceipt) {
    FailingOutput file(2);
    std::ostringstream err;
    ProgressDisplay progress(err, false);
    ReceiptWriter writer(&file, u"r.tsv", progress);
    for (int index = 0; index < 3; ++index)
        writer.row(index, u"a.txt", "created", u"");
    writer.close();
    EXPECT_EQ(file.written, "1\ta.txt\tcreated\t\n");
    EXPECT_EQ(err.str(),
              "quorvane-batch: cannot write the receipt r.tsv: Injected write failure\n");
    EXPECT_TRUE(writer.failed());
    EXPECT_FALSE(file.closed);
}
