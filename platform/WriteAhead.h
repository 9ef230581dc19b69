#pragma once

#include "platform/CopySequence.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

// Writes the new files of a run's coming lines while the run walks its list, on several spaces
// at once (a space: the free room a file system, a pool of subvolumes or an overlay's upper
// layer draws on), so that targets on several devices are written together; each line's own
// turn then only checks and publishes, in list order, as a run of one target at a time does.
// Writing ahead changes nothing the run shows or leaves:
// - no writer writes on the space of the current turn, and a turn that writes a file itself
//   first waits for that space's writer and drops what was written ahead there, so one space is
//   written one target after another;
// - what is held ahead is bounded in files, in handles (the turn always keeps what a run of one
//   target at a time needs) and in bytes (a quarter of each space's room at the start, so that
//   other programs still find most of what they saw free);
// - a turn that finds no room or no handle while files are held ahead drops them all and is
//   copied again, and the run goes on one target at a time: space shared in a way no one can see
//   (a FUSE mount over another disk) still costs no copy;
// - a source whose file system may hide a rewrite (no change time that surely moves) is
//   written at each turn only;
// - a file written ahead that failed, or does not fit its turn, is written again by the turn,
//   whose outcome is told as ever.
class WriteAhead {
  public:
    using MakeHost = std::function<std::unique_ptr<CopyPrimitives>()>;
    // The path line i copies to, as the run names it to the file services; nothing for a line
    // not written ahead.
    using Destination = std::function<std::optional<std::u16string>(std::size_t)>;
    // Such a path in the host's form; throws PlatformError where the host cannot carry it.
    using HostPath = std::function<HostString(std::u16string_view)>;
    // Told, on the run's own thread, what writing ahead did that the receipt does not show.
    using Tell = std::function<void(std::u16string_view)>;

    // Files written ahead and still open, on one space and in all; each holds its new file and
    // its folder.
    static constexpr int kMostPerSpace = 16;
    static constexpr int kMostInAll = 64;
    static constexpr std::size_t kMostWriters = 16;
    // Lines looked at ahead of the turn.
    static constexpr std::size_t kLookAhead = 256;
    // Handles a turn may need besides one per space it wrote to (kept for the final flush).
    static constexpr std::int64_t kTurnHandles = 16;

    struct Counts {
        std::size_t written = 0, taken = 0, failed = 0;
    };

    // Writers each get a host of their own from `makeHost`; `host` is the turn's.
    WriteAhead(CopyPrimitives& host, MakeHost makeHost, HostString source, std::size_t lines,
               Destination destination, HostPath hostPath, Tell tell = {});
    // Stops the writers and drops every file written ahead; tells the counts.
    ~WriteAhead();
    WriteAhead(const WriteAhead&) = delete;
    WriteAhead& operator=(const WriteAhead&) = delete;

    // The turn of the next line that copies to `destination`, copied by `sequence` with the file
    // written for it.
    CopyOutcome copy(CopySequence& sequence, const HostString& source,
                     std::u16string_view destination);
    Counts counts() const;
    // Waits until every writer is idle with nothing it may take up.
    void settleForTesting();

  private:
    enum class State { Waiting, Writing, Ready, Failed };
    struct Entry {
        std::u16string given; // as the run names it
        HostString destination;
        std::uint64_t space = 0;
        State state = State::Waiting;
        std::atomic<bool> dropped{false}; // its turn went by: its writer stops
        CopySequence::PreparedFile file;
    };
    using EntryPtr = std::shared_ptr<Entry>;
    using Dropped = std::vector<CopySequence::PreparedFile>;

    void lookAhead();
    std::optional<std::uint64_t> spaceOf(const HostString& path);
    void startWriter();
    EntryPtr pick();
    std::int64_t handlesLeft(std::size_t writers) const;
    bool busy(std::uint64_t space) const;
    bool roomFor(std::uint64_t space) const;
    void write(CopyPrimitives& host);
    Dropped finished(Entry& entry, CopySequence::PreparedFile made);
    void release(std::uint64_t space);
    void claim(std::uint64_t space);
    Dropped stopWriting(std::unique_lock<std::mutex>& lock);
    void tellFailures();

    CopyPrimitives& m_host;
    MakeHost m_makeHost;
    HostString m_source;
    std::size_t m_lines;
    Destination m_destination;
    HostPath m_hostPath;
    Tell m_tell;
    std::size_t m_scanned = 0;
    std::int64_t m_size = 0; // the source's, as each file written ahead takes it
    // Folders looked up by a view of their path.
    struct FolderHash : std::hash<std::basic_string_view<HostString::value_type>> {
        using is_transparent = void;
    };
    // The space of each folder looked at; nothing where it could not be asked.
    std::unordered_map<HostString, std::optional<std::uint64_t>, FolderHash, std::equal_to<>>
        m_spaces;
    // Bytes each space may hold ahead: a quarter of its room when first seen.
    std::unordered_map<std::uint64_t, std::int64_t> m_room;
    // Handles the process could still open when the run began; nothing where unbounded.
    std::optional<std::int64_t> m_handles;
    // The writers' hosts outlive the files they wrote.
    std::vector<std::unique_ptr<CopyPrimitives>> m_hosts;

    mutable std::mutex m_mutex;
    // Writers wait for work they may take up; the turn for a writer to finish.
    std::condition_variable m_work, m_finished;
    std::deque<EntryPtr> m_entries; // lines looked at whose turns are to come, in order
    std::unordered_map<std::uint64_t, int> m_open;
    std::unordered_map<std::uint64_t, std::int64_t> m_held; // bytes held ahead, by space
    int m_openInAll = 0;
    std::vector<std::uint64_t> m_busy; // spaces a writer writes on now
    std::vector<std::uint64_t> m_seen; // spaces with lines
    std::optional<std::uint64_t> m_turnSpace;
    // Set for good once writing ahead could cost a copy: the run goes on one target at a time.
    std::atomic<bool> m_stopping{false};
    Counts m_counts;
    std::vector<std::u16string> m_failures; // not told yet
    std::vector<std::thread> m_writers;
};
