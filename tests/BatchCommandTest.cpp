#include "batch/BatchCommand.h"
#include "shared/Text.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::string receipt, err;
};

std::u16string wide(const std::string& text) {
    return decodeUtf8Lossless(text);
}

} // namespace

class BatchCommandTest : public testing::Test {
  protected:
    void SetUp() override {
        writeFile(dir / "source.txt", "payload");
        fs::create_directory(dir / "out");
        writeFile(dir / "out/old.txt", "old");
        writeFile(dir / "out/readonly.txt", "keep");
        ::chmod((dir / "out/readonly.txt").c_str(), 0444);
    }
    std::string out(const std::string& name) const { return (dir / "out" / name).string(); }
    void list(const std::string& text) { writeFile(dir / "list.txt", text); }
    Outcome run(std::vector<std::string> arguments) {
        std::vector<std::u16string> wideArguments;
        for (const std::string& argument : arguments)
            wideArguments.push_back(wide(argument));
        std::ostringstream outStream, errStream;
        BatchConsole console{outStream, errStream, false,
                             [](std::u16string_view path) -> std::unique_ptr<std::ostream> {
                                 auto file = std::make_unique<std::ofstream>(
                                     narrow(path), std::ios::binary | std::ios::trunc);
                                 return *file ? std::move(file) : nullptr;
                             }};
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

// One list gives every outcome; each line its row, in order.
TEST_F(BatchCommandTest, aMixedListGivesEachOutcomeItsRow) {
    list(out("new.txt") + "\r\n   \n" + narrow(win(dir / "out/old.txt")) + "\n" +
         out("readonly.txt") + "\n" + out("missing/x.txt") + "\nbare.txt\n" + out("what?.txt") +
         "\n" + out("fails.txt") + "\n" + out("100%\x01.txt"));
    files.failOn("copyFile", 4);
    const Outcome result = receipt();
    EXPECT_EQ(result.receipt, "1\t" + out("new.txt") +
                                  "\tcreated\t\n"
                                  "2\t\tblank\t\n"
                                  "3\t" +
                                  narrow(win(dir / "out/old.txt")) +
                                  "\treplaced\t\n"
                                  "4\t" +
                                  out("readonly.txt") +
                                  "\trefused\tread-only\n"
                                  "5\t" +
                                  out("missing/x.txt") +
                                  "\tno-folder\t\n"
                                  "6\tbare.txt\tno-name\t\n"
                                  "7\t" +
                                  out("what?.txt") +
                                  "\tno-name\t\n"
                                  "8\t" +
                                  out("fails.txt") +
                                  "\tfailed\tInjected copyFile failure\n"
                                  "9\t" +
                                  out("100%25%01.txt") + "\tcreated\t\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(readFile(dir / "out/new.txt"), "payload");
    EXPECT_EQ(readFile(dir / "out/readonly.txt"), "keep");
    EXPECT_NE(result.err.find("quorvane-batch: Done.\n"
                              "quorvane-batch: 2 created, 1 replaced, 3 skipped, 1 refused, "
                              "1 failed\n"),
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
    // A single leading backslash makes the source a share: found by the look-up, never copied.
    result = run(
        {"--receipt", "-", narrow(win(dir / "source.txt")).substr(2), (dir / "list.txt").string()});
    EXPECT_EQ(result.receipt, "1\t" + out("") + "\tno-source\t\n2\t\tblank\t\n");
    EXPECT_EQ(result.status, 1);
}

TEST_F(BatchCommandTest, aDryRunWritesNothingAndSaysWhatWould) {
    list(out("new.txt") + "\n" + out("new.txt") + "\n" + out("old.txt") + "\n" +
         out("readonly.txt"));
    std::map<std::string, struct stat> before;
    const auto snapshot = [&] {
        std::map<std::string, struct stat> all;
        for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
            struct stat info {};
            ::lstat(entry.path().c_str(), &info);
            all[entry.path().string()] = info;
        }
        return all;
    };
    before = snapshot();
    const Outcome result = receipt({"--dry-run"});
    EXPECT_EQ(result.receipt, "1\t" + out("new.txt") +
                                  "\twould-create\t\n"
                                  "2\t" +
                                  out("new.txt") +
                                  "\twould-replace\t\n"
                                  "3\t" +
                                  out("old.txt") +
                                  "\twould-replace\t\n"
                                  "4\t" +
                                  out("readonly.txt") + "\trefused\tread-only\n");
    const auto after = snapshot();
    ASSERT_EQ(after.size(), before.size()) << "nothing created";
    for (const auto& [path, was] : before) {
        const struct stat& now = after.at(path);
        EXPECT_EQ(now.st_size, was.st_size) << path;
        EXPECT_EQ(now.st_mtim.tv_nsec, was.st_mtim.tv_nsec) << path;
        EXPECT_EQ(now.st_ctim.tv_sec, was.st_ctim.tv_sec) << path;
        EXPECT_EQ(now.st_ctim.tv_nsec, was.st_ctim.tv_nsec) << path;
    }
    EXPECT_EQ(readFile(dir / "out/old.txt"), "old");
}

struct StatusRow {
    const char* name;
    std::vector<std::string> arguments; // SOURCE, LIST and BAD stand for paths
    std::string list;
    int status;
    std::string message; // a line standard error must hold
};

class BatchStatusTest : public BatchCommandTest, public testing::WithParamInterface<StatusRow> {};

TEST_P(BatchStatusTest, exitStatusesInTheirPrecedence) {
    const StatusRow& row = GetParam();
    list(row.list);
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
                  "0 created, 0 replaced, 2 skipped, 0 refused, 0 failed"},
        StatusRow{"overflow",
                  {"SOURCE", "LIST"},
                  lines(32769, ""),
                  1,
                  "quorvane-batch: Overflow\nquorvane-batch: in Tarnwick2021/08/31.Form1."
                  "PushButton3_Click at line 138\nquorvane-batch: Please email"},
        StatusRow{"exactlyTheLastLine", {"SOURCE", "LIST"}, lines(32768, ""), 1, "at line 146"}),
    [](const auto& info) { return info.param.name; });

TEST_F(BatchCommandTest, helpAndVersionGoToStandardOutput) {
    EXPECT_EQ(run({"--version"}).receipt, "quorvane-batch 1.0.0\n");
    const Outcome help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.receipt.starts_with("Usage: quorvane-batch")) << help.receipt;
}
