#include "copy/SaveAsMany.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <tuple>

namespace fs = std::filesystem;

class SaveAsManyTest : public testing::Test {
  protected:
    void SetUp() override {
        writeFile(dir / "source.txt", "payload");
        fs::create_directory(dir / "out");
        host.source = win(dir / "source.txt");
        host.list = win(dir / "list.txt");
    }
    void list(std::string_view bytes) { writeFile(dir / "list.txt", bytes); }
    std::string target(const std::string& name) { return narrowPath(dir / "out" / name); }
    static std::string narrowPath(const fs::path& path) { return narrow(win(path)); }
    static std::vector<std::u16string> promptsOf(const TestHost& of) {
        std::vector<std::u16string> out;
        for (const ShownBox& box : of.boxes.shown)
            out.push_back(box.prompt);
        return out;
    }
    std::vector<std::u16string> prompts() const { return promptsOf(host); }
    std::vector<std::string> copies() const {
        std::vector<std::string> out;
        for (const std::string& call : host.files.calls)
            if (call.starts_with("copyFile:"))
                out.push_back(call.substr(9));
        return out;
    }
    void run() { PushButton3_Click(host); }
    bool readsNativeNames() { return host.files.mapNativeName(u"/x").has_value(); }

    TempDir dir;
    TestHost host;
};

TEST_F(SaveAsManyTest, copiesEveryListedTargetInOrderAndSaysDone) {
    list(target("a.txt") + "\r\n  " + target("b.txt") + "  \n\n   \n" + target("a.txt") + "\n" +
         target("tab.txt") + "\t\n");
    run();
    EXPECT_EQ(copies(), (std::vector<std::string>{target("a.txt"), target("b.txt"), target("a.txt"),
                                                  target("tab.txt") + "\t"}));
    EXPECT_EQ(readFile(dir / "out/b.txt"), "payload");
    // Windows allows no tab in a name; a POSIX host does.
    EXPECT_EQ(fs::exists(dir / "out/tab.txt\t"), readsNativeNames()) << "tabs are part of the name";
    ASSERT_EQ(host.boxes.shown.size(), 1u);
    EXPECT_EQ(host.boxes.shown[0].prompt, u"Done.");
    EXPECT_EQ(host.boxes.shown[0].style, 0);
    EXPECT_EQ(host.boxes.shown[0].title, u"") << "untitled: the application title";
}

TEST_F(SaveAsManyTest, aLinuxUsersListNamesHostPathsButNotWindowsPathsWithSlashes) {
    if (!readsNativeNames())
        GTEST_SKIP() << "this host has no paths of its own apart from Windows paths";
    const std::string native = (dir / "out").string();
    std::string slashes = target("slash.txt");
    std::replace(slashes.begin(), slashes.end(), '\\', '/');
    list(native + "/lin-1.txt\n" + target("win-2.txt") + "\n" + slashes + "\n" + native +
         "/what?.txt\n" + native + "/end.\n");
    writeFile(dir / "out/whatever.txt", "keep");
    run();
    EXPECT_EQ(readFile(dir / "out/lin-1.txt"), "payload");
    EXPECT_EQ(readFile(dir / "out/win-2.txt"), "payload");
    EXPECT_EQ(readFile(dir / "out/whatever.txt"), "keep");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), {}), 3);
}

TEST_F(SaveAsManyTest, carriageReturnsVanishAnywhere) {
    std::string joined = target("jo");
    joined.insert(joined.size() - 1, "\r");
    list(joined + "\r\r\n" + target("x") + "\ry\r");
    run();
    EXPECT_EQ(copies(), (std::vector<std::string>{target("jo"), target("xy")}));
    EXPECT_TRUE(fs::exists(dir / "out/jo"));
}

TEST_F(SaveAsManyTest, theFourInputMessagesInTheirOrder) {
    struct Row {
        std::u16string source, list;
        std::u16string message;
        bool lookups;
    };
    fs::create_directory(dir / "folder.txt");
    writeFile(dir / ".hidden.txt", "x");
    list("x");
    const std::vector<Row> rows = {
        {u"", u"", u"You forgot to input file to copy and rename.", false},
        {u"   ", win(dir / "list.txt"), u"You forgot to input file to copy and rename.", false},
        {win(dir / "source.txt"), u"  ", u"You forgot to input text file to use.", false},
        {win(dir / "missing.txt"), win(dir / "list.txt"), u"File to copy and rename not found.",
         true},
        {win(dir / "out"), win(dir / "list.txt"), u"File to copy and rename not found.", true},
        {win(dir / "source.txt"), win(dir / "folder.txt"), u"Text file to use not found.", true},
        {win(dir / "source.txt"), win(dir / ".hidden.txt"), u"Text file to use not found.", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("source \"" + narrow(row.source) + "\", list \"" + narrow(row.list) + "\"");
        TestHost fresh;
        fresh.source = row.source;
        fresh.list = row.list;
        PushButton3_Click(fresh);
        EXPECT_EQ(promptsOf(fresh), std::vector<std::u16string>{row.message})
            << narrow(row.message);
        EXPECT_EQ(!fresh.files.calls.empty(), row.lookups);
        EXPECT_FALSE(fresh.busyFlag);
        EXPECT_EQ(fresh.pointer, PointerDefault) << "the pointer changes only for a real run";
    }
}

TEST_F(SaveAsManyTest, emptyAndBlankListsHandOnWhatTheTextSays) {
    list("");
    run();
    // An empty file reads as the text "empty file": one name, handed on, copied nowhere.
    EXPECT_EQ(std::count(host.files.calls.begin(), host.files.calls.end(),
                         "openExisting:" + narrowPath(dir / "source.txt")),
              1);
    EXPECT_EQ(prompts(), std::vector<std::u16string>{u"Done."});

    TestHost blank;
    blank.source = host.source;
    blank.list = host.list;
    list("   \r\n\r\n \n");
    PushButton3_Click(blank);
    EXPECT_EQ(std::count_if(blank.files.calls.begin(), blank.files.calls.end(),
                            [](const std::string& c) { return c.starts_with("openExisting"); }),
              0);
    EXPECT_EQ(blank.boxes.shown.back().prompt, u"Done.");
}

TEST_F(SaveAsManyTest, utf16ListKeepsItsMarkOnTheFirstName) {
    std::u16string text =
        u"\uFEFF" + win(dir / "out/first.txt") + u"\r\n" + win(dir / "out/second.txt");
    std::string bytes;
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    list(bytes);
    run();
    EXPECT_FALSE(fs::exists(dir / "out/first.txt")) << "the mark makes the first name relative";
    EXPECT_EQ(readFile(dir / "out/second.txt"), "payload");
}

TEST_F(SaveAsManyTest, aClickDuringARunEndsAtOnceWithoutAWord) {
    list(target("a.txt"));
    int inner = 0;
    host.boxes.onShow = [&](const ShownBox& box) {
        if (box.prompt != u"Done.")
            return;
        const std::size_t before = host.boxes.shown.size();
        const std::size_t calls = host.files.calls.size();
        PushButton3_Click(host); // the busy flag is still set while "Done." is shown
        inner +=
            host.boxes.shown.size() == before && host.files.calls.size() == calls && host.busyFlag;
    };
    run();
    EXPECT_EQ(inner, 1);
    EXPECT_FALSE(host.busyFlag);
}

// What the run wrote is made durable once, under the wait pointer, before "Done." claims it.
TEST_F(SaveAsManyTest, theWaitPointerShowsWhileCopyingAndDoneFollowsWhatIsOnDisk) {
    list(target("a.txt") + "\n" + target("b.txt"));
    std::vector<std::string> events;
    host.files.onCall = [&](const std::string& call) {
        if (call == "copyFile" || call == "makeDurable")
            events.push_back(call + (host.pointer == PointerWait ? " waiting" : ""));
    };
    host.boxes.onShow = [&](const ShownBox& box) { events.push_back(narrow(box.prompt)); };
    run();
    EXPECT_EQ(events, (std::vector<std::string>{"copyFile waiting", "copyFile waiting",
                                                "makeDurable waiting", "Done."}));
    EXPECT_EQ(host.pointer, PointerDefault);
}

// A list of `count` lines whose first and last name real targets.
std::string longList(int count, const std::string& first, const std::string& last) {
    std::string text = first + "\n";
    text.append(static_cast<std::size_t>(count - 2), '\n');
    return text + last;
}

// 32768 lines are copied in full and overflow after the last; a longer list overflows while
// being counted and copies nothing.
TEST_F(SaveAsManyTest, aListPast32767LinesOverflowsWhereItsLengthSays) {
    for (const auto& [count, line, copied] :
         {std::tuple{32768, 146, 2u}, std::tuple{40000, 138, 0u}}) {
        SCOPED_TRACE(count);
        host.boxes.shown.clear();
        host.files.calls.clear();
        list(longList(count, target("first"), target("last")));
        run();
        EXPECT_EQ(copies().size(), copied);
        EXPECT_EQ(host.boxes.reportedLines(), std::vector<int>{line});
        EXPECT_EQ(host.boxes.shown[0].prompt.substr(0, 10), u"Overflow\r\n");
        EXPECT_EQ(host.boxes.shown.back().prompt, u"Done.");
        EXPECT_FALSE(host.busyFlag);
        EXPECT_EQ(host.pointer, PointerDefault);
    }
    EXPECT_TRUE(fs::exists(dir / "out/first") && fs::exists(dir / "out/last"));
}

TEST_F(SaveAsManyTest, aWildcardSourceThatCannotBeSearchedIsReportedOnceAtItsLookUp) {
    std::error_code error;
    fs::create_directory_symlink(dir / "loop", dir / "loop", error);
    if (error)
        GTEST_SKIP() << "no symbolic links here: " << error.message();
    host.source = win(dir / "loop") + u"\\*.txt";
    list(target("a.txt") + "\n" + target("b.txt") + "\n" + target("c.txt"));
    run();
    EXPECT_EQ(host.boxes.reportedLines(), std::vector<int>{108});
    EXPECT_EQ(prompts().back(), u"Done.");
}

// Each row makes one call fail once and says which report follows and how the run ends.
struct FailureRow {
    const char* name;
    std::string hostCall; // a host call to fail, or empty
    std::string fileCall; // a file service to fail, or empty
    int nth;
    int line;                            // the line number reported; 0: none, it is absorbed
    std::vector<std::u16string> notices; // the plain messages that follow, in order
    int copied;                          // targets copied out of two
};

class SaveAsManyFailureTest : public SaveAsManyTest,
                              public testing::WithParamInterface<FailureRow> {};

TEST_P(SaveAsManyFailureTest, reportsTheStepAndResumesWhereTheTableSays) {
    const FailureRow& row = GetParam();
    list(target("a.txt") + "\n" + target("b.txt"));
    host.failCall = row.hostCall;
    host.failAt = row.nth;
    if (!row.fileCall.empty())
        host.files.failOn(row.fileCall, row.nth);
    run();
    EXPECT_EQ(host.boxes.reportedLines(),
              row.line ? std::vector<int>{row.line} : std::vector<int>{});
    std::vector<std::u16string> notices;
    for (const ShownBox& box : host.boxes.shown)
        if (box.title.empty())
            notices.push_back(box.prompt);
    EXPECT_EQ(notices, row.notices);
    EXPECT_EQ(fs::exists(dir / "out/a.txt") + fs::exists(dir / "out/b.txt"), row.copied);
    EXPECT_FALSE(host.busyFlag) << "every run past 100 clears the flag";
}

const std::u16string kDone = u"Done.";

INSTANTIATE_TEST_SUITE_P(
    Steps, SaveAsManyFailureTest,
    testing::Values(FailureRow{"busyTest100", "busy", "", 1, 100, {kDone}, 2},
                    FailureRow{"setBusy102", "setBusy", "", 1, 102, {kDone}, 2},
                    FailureRow{"sourceBlankTest104", "text1", "", 1, 104, {kDone}, 2},
                    FailureRow{"listBlankTest106", "text2", "", 1, 106, {kDone}, 2},
                    FailureRow{"sourceLookup108", "", "findOrdinaryFiles", 1, 108, {kDone}, 2},
                    FailureRow{"listLookup110", "", "findOrdinaryFiles", 2, 110, {kDone}, 2},
                    FailureRow{"waitPointer112", "setMousePointer", "", 1, 112, {kDone}, 2},
                    FailureRow{"read132", "", "openForReading", 1, 132, {kDone}, 0},
                    FailureRow{"copy144", "", "openExisting", 1, 144, {kDone}, 1},
                    FailureRow{"defaultPointer148", "setMousePointer", "", 2, 148, {kDone}, 2},
                    FailureRow{"notDurable148", "", "makeDurable", 1, 148, {kDone}, 2}),
    [](const auto& info) { return info.param.name; });

TEST_F(SaveAsManyTest, aFailingMessageGoesOnToClearTheFlag) {
    list("");
    const std::u16string source = host.source, listPath = host.list, missing = win(dir / "no");
    const struct {
        std::u16string source, list;
        std::u16string_view message;
    } rows[] = {
        {source, listPath, u"Done."},
        {source, missing, u"Text file to use not found."},
        {missing, listPath, u"File to copy and rename not found."},
        {source, u"", u"You forgot to input text file to use."},
        {u"", u"", u"You forgot to input file to copy and rename."},
    };
    for (const auto& row : rows) {
        TestHost fresh;
        fresh.source = row.source;
        fresh.list = row.list;
        fresh.boxes.onShow = [&](const ShownBox& box) {
            if (box.prompt == row.message)
                throw std::runtime_error("box failed");
        };
        PushButton3_Click(fresh);
        ASSERT_EQ(fresh.boxes.shown.size(), 2u) << narrow(row.message);
        EXPECT_NE(fresh.boxes.shown[1].prompt.find(u"at line "), std::u16string::npos);
        EXPECT_FALSE(fresh.busyFlag);
    }
}
