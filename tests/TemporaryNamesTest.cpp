#include "platform/posix/TemporaryNames.h"
#include "platform/CopySequence.h"
#include "platform/posix/PosixCopyPrimitives.h"

#include "tests/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A process number that no process has: a child that has been waited for.
pid_t goneProcess() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

struct Leftover {
    const char* what;
    std::string name;
    bool removed;
};

} // namespace

// A crash leaves a temporary name beside its target; the next copy into that folder removes
// it only when the name proves its maker gone, and the dry run removes nothing.
TEST(TemporaryNames, OnlyNamesOfGoneMakersAreRemoved) {
    const std::optional<NameMaker> self = currentMaker();
    if (!self)
        GTEST_SKIP() << "this system tells no machine id, boot id or PID namespace";
    const auto name = [](NameMaker maker, auto change) {
        change(maker);
        return namePrefix(maker) + "0123456789ab.tmp";
    };
    const Leftover rows[] = {
        {"a process that ended", name(*self, [](NameMaker& m) { m.pid = goneProcess(); }), true},
        {"a boot that ended", name(*self, [](NameMaker& m) { m.boot = "00000000000000aa"; }), true},
        {"a live process", name(*self, [](NameMaker& m) { m.pid = ::getppid(); }), false},
        {"this process", name(*self, [](NameMaker&) {}), false},
        {"another machine",
         name(*self,
              [](NameMaker& m) {
                  m.machine = "00000000000000bb";
                  m.boot = "00000000000000aa";
              }),
         false},
        {"another PID namespace",
         name(*self,
              [](NameMaker& m) {
                  m.pidNamespace += 1;
                  m.pid = goneProcess();
              }),
         false},
        {"an older version's name", ".quorvane-0123456789ab.tmp", false},
        {"a name like ours", ".quorvane-" + self->machine + "-notes.tmp", false},
    };
    TempDir dir;
    writeFile(dir / "source.txt", "new");
    for (const Leftover& row : rows)
        writeFile(dir / row.name, "part");

    PosixCopyPrimitives host;
    CopySequence sequence(host);
    sequence.check(dir / "source.txt", dir / "target.txt");
    for (const Leftover& row : rows)
        EXPECT_TRUE(std::filesystem::exists(dir / row.name)) << "dry run removed " << row.what;

    sequence.copy(dir / "source.txt", dir / "target.txt");
    EXPECT_EQ(readFile(dir / "target.txt"), "new");
    for (const Leftover& row : rows)
        EXPECT_EQ(!std::filesystem::exists(dir / row.name), row.removed) << row.what;
}

// Without a machine id an ended boot may be another machine's sharing the folder: its names
// stay, while those of a process of this boot that ended go.
TEST(TemporaryNames, WithoutAMachineIdOnlyThisBootIsJudged) {
    const NameMaker self{"0000000000000000", "00000000000000aa", 1, ::getpid()};
    EXPECT_FALSE(makerGone({self.machine, "00000000000000bb", 1, ::getpid()}, self));
    EXPECT_TRUE(makerGone({self.machine, self.boot, 1, goneProcess()}, self));
}
