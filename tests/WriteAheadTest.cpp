#include "platform/WriteAhead.h"
#include "platform/PlatformError.h"
#include "platform/posix/PosixCopyPrimitives.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kSize = 100'000;

// Each top folder of the run (a, b, c) counts as a space of its own, as separate devices would,
// whatever file system holds them; with a fault given per row. Where the source's times hide a
// rewrite, nothing is written ahead.
struct Faults {
    bool writerFails = false;       // the first file a writer fills fails
    bool threadFails = false;       // the first writer's host cannot be made
    bool timesHideRewrites = false; // the source's times show no rewrite, as sshfs's do
};

class SpacedPrimitives : public PosixCopyPrimitives {
  public:
    SpacedPrimitives(const Faults& faults, bool writer) : m_faults(faults), m_writer(writer) {}

    Result<SpaceFacts> folderSpace(const std::string& folder) override {
        Result<SpaceFacts> space = PosixCopyPrimitives::folderSpace(folder);
        if (!space.error())
            space->key = folder[folder.size() - 2];
        return space;
    }
    Result<std::int64_t> copyPiece(const CopySource& source, OsHandle& out, std::int64_t at,
                                   std::int64_t most) override {
        if (m_writer && m_faults.writerFails && !std::exchange(m_failed, true))
            return std::make_error_code(std::errc::io_error);
        return PosixCopyPrimitives::copyPiece(source, out, at, most);
    }
    Result<bool> tracksChanges(const HostString& path) override {
        return !m_faults.timesHideRewrites && *PosixCopyPrimitives::tracksChanges(path);
    }
    Result<CopySource> openSource(const HostString& path) override {
        Result<CopySource> source = PosixCopyPrimitives::openSource(path);
        if (!source.error() && m_faults.timesHideRewrites)
            source->facts.changed = source->facts.modified;
        return source;
    }

  private:
    const Faults& m_faults;
    bool m_writer;
    bool m_failed = false;
};

struct Row {
    const char* name;
    Faults faults;
    std::vector<std::string> lines; // as folder/name
    // Made before each run. Where there are old files, a, b and c share one small file system.
    std::vector<std::string> old;
};

struct RunResult {
    std::string outcomes;
    std::map<std::string, std::string> files; // and leftovers
    WriteAhead::Counts counts;
};

class WriteAheadTest : public testing::TestWithParam<Row> {
  protected:
    void TearDown() override {
        if (m_mounted)
            ::umount2(m_root.c_str(), MNT_DETACH);
    }

    RunResult run(bool ahead) {
        const Row& row = GetParam();
        for (const auto& entry : fs::directory_iterator(m_root))
            fs::remove_all(entry.path());
        for (const char* folder : {"a", "b", "c"})
            fs::create_directory(m_root / folder);
        for (const std::string& name : row.old)
            writeFile(m_root / name, std::string(kSize, 'o'));
        writeFile(m_source, std::string(kSize, 's'));
        SpacedPrimitives turn(row.faults, false);
        CopySequence sequence(turn);
        std::optional<WriteAhead> writing;
        bool madeOne = false;
        if (ahead) {
            writing.emplace(
                turn,
                [&]() -> std::unique_ptr<CopyPrimitives> {
                    if (row.faults.threadFails && !std::exchange(madeOne, true))
                        throw std::system_error(
                            std::make_error_code(std::errc::resource_unavailable_try_again));
                    return std::make_unique<SpacedPrimitives>(row.faults, true);
                },
                m_source.string(), row.lines.size(),
                [&](std::size_t i) { return std::optional(path(i)); },
                [](std::u16string_view given) { return HostString(given.begin(), given.end()); });
        }
        RunResult result;
        for (std::size_t i = 0; i < row.lines.size(); ++i) {
            const std::u16string given = path(i);
            try {
                result.outcomes += std::to_string(static_cast<int>(
                    writing ? writing->copy(sequence, m_source.string(), given)
                            : sequence.copy(m_source.string(), {given.begin(), given.end()})));
            } catch (const PlatformError& error) {
                result.outcomes +=
                    std::string(error.description().begin(), error.description().end());
            }
            if (writing)
                writing->settleForTesting();
            // Rewritten with its size and time kept: only the change time could tell.
            if (i == 0 && row.faults.timesHideRewrites) {
                struct stat was {};
                ::stat(m_source.c_str(), &was);
                writeFile(m_source, std::string(kSize, 'n'));
                const timespec times[2] = {was.st_atim, was.st_mtim};
                ::utimensat(AT_FDCWD, m_source.c_str(), times, 0);
            }
        }
        result.counts = writing ? writing->counts() : WriteAhead::Counts();
        writing.reset();
        for (const auto& entry : fs::recursive_directory_iterator(m_root))
            if (entry.is_regular_file())
                result.files[fs::relative(entry.path(), m_root).string()] =
                    readFile(entry.path()).substr(0, 1) +
                    std::to_string(fs::file_size(entry.path()));
        return result;
    }
    std::u16string path(std::size_t i) const {
        const std::string line = (m_root / GetParam().lines[i]).string();
        return {line.begin(), line.end()};
    }

    TempDir m_dir;
    fs::path m_root = m_dir / "run", m_source = m_dir / "source";
    bool m_mounted = false;
};

// Written ahead, a run shows and leaves what it does one target at a time, whatever fails or
// changes on the way; and it did write ahead, where it may.
TEST_P(WriteAheadTest, changesNothingARunOneAtATimeShows) {
    const Row& row = GetParam();
    fs::create_directories(m_root);
    if (!row.old.empty() &&
        !(m_mounted = ::mount("tmpfs", m_root.c_str(), "tmpfs", 0, "size=1m") == 0))
        GTEST_SKIP() << "a small file system cannot be mounted (needs root)";
    const RunResult oneAtATime = run(false), ahead = run(true);
    EXPECT_EQ(ahead.outcomes, oneAtATime.outcomes);
    EXPECT_EQ(ahead.files, oneAtATime.files);
    EXPECT_EQ(ahead.counts.written > 0, !row.faults.timesHideRewrites) << ahead.counts.written;
    EXPECT_EQ(ahead.counts.failed > 0, row.faults.writerFails) << ahead.counts.failed;
}

std::vector<std::string> alternating(int count, std::string_view spaces = "ab") {
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i)
        lines.push_back(std::string(1, spaces[i % spaces.size()]) + "/t" + std::to_string(i));
    return lines;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WriteAheadTest,
    testing::Values(Row{"writerFails", {.writerFails = true}, alternating(8), {}},
                    Row{"threadCannotStart", {.threadFails = true}, alternating(9, "abc"), {}},
                    Row{"sourceRewrittenUnseen", {.timesHideRewrites = true}, alternating(6), {}},
                    // Copied one at a time every line fits. Written ahead, the new files held
                    // for b and c while their old files are still there leave a's last file no
                    // room: they go.
                    Row{"spaceSharedUnseen",
                        {},
                        {"a/n0", "a/n1", "a/n2", "a/n3", "a/n4", "b/o0", "c/o0", "b/o1", "c/o1"},
                        {"b/o0", "b/o1", "c/o0", "c/o1"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A target that is a link draws on the space of the file it names.
TEST(WriteAheadSpaceTest, aLinkCountsWhereItLeads) {
    const TempDir dir;
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    writeFile(dir / "b/real", "x");
    fs::create_symlink(dir / "b/real", dir / "a/link");
    Faults none;
    SpacedPrimitives host(none, false);
    EXPECT_EQ(host.spaceOf((dir / "a/link").string())->key,
              host.spaceOf((dir / "b/new").string())->key);
    EXPECT_NE(host.spaceOf((dir / "a/new").string())->key,
              host.spaceOf((dir / "b/new").string())->key);
}

} // namespace
