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

// Writes the new files of a run's coming lines while the run walks its list, one writer per
// file system, so that targets on several devices are written at once; each line's own turn
// then only checks and publishes, in list order, as a run of one target at a time does.
// No writer writes on the file system of the current turn, and a turn that writes a file itself
// first waits for that file system's writer and drops what it wrote ahead there: one file system
// is written one target after another, and finds the space such a run would find. A file written
// ahead that failed, or does not fit its turn, is written again by the turn, whose outcome is
// told as ever.
class WriteAhead {
  public:
    using MakeHost = std::function<std::unique_ptr<CopyPrimitives>()>;
    // The path line i copies to, as the run names it to the file services; nothing for a line
    // not written ahead.
    using Destination = std::function<std::optional<std::u16string>(std::size_t)>;
    // Such a path in the host's form; throws PlatformError where the host cannot carry it.
    using HostPath = std::function<HostString(std::u16string_view)>;

    // Files written ahead and still open, on one file system and in all; each holds its new
    // file and its folder.
    static constexpr int kMostPerDevice = 16;
    static constexpr int kMostInAll = 64;
    static constexpr std::size_t kMostWriters = 16;
    // Lines looked at ahead of the turn.
    static constexpr std::size_t kLookAhead = 256;

    // Writers each get a host of their own from `makeHost`; `host` is the turn's.
    WriteAhead(CopyPrimitives& host, MakeHost makeHost, HostString source, std::size_t lines,
               Destination destination, HostPath hostPath);
    // Stops the writers and drops every file written ahead.
    ~WriteAhead();
    WriteAhead(const WriteAhead&) = delete;
    WriteAhead& operator=(const WriteAhead&) = delete;

    // The turn of the next line that copies to `destination`, copied by `sequence` with the file
    // written for it.
    CopyOutcome copy(CopySequence& sequence, const HostString& source,
                     std::u16string_view destination);

  private:
    enum class State { Waiting, Writing, Ready, Failed };
    struct Entry {
        std::u16string given; // as the run names it
        HostString destination;
        std::uint64_t device = 0;
        State state = State::Waiting;
        std::atomic<bool> dropped{false}; // its turn went by: its writer stops
        CopySequence::PreparedFile file;
    };
    using EntryPtr = std::shared_ptr<Entry>;

    void lookAhead();
    std::optional<std::uint64_t> deviceOf(const HostString& path);
    EntryPtr pick();
    void write(CopyPrimitives& host);
    void finished(Entry& entry, CopySequence::PreparedFile made);
    void claim(std::uint64_t device);
    void release(std::uint64_t device);
    bool busy(std::uint64_t device) const;

    CopyPrimitives& m_host;
    MakeHost m_makeHost;
    HostString m_source;
    std::size_t m_lines;
    Destination m_destination;
    HostPath m_hostPath;
    std::size_t m_scanned = 0;
    // Folders looked up by a view of their path.
    struct FolderHash : std::hash<std::basic_string_view<HostString::value_type>> {
        using is_transparent = void;
    };
    // The file system of each folder looked at; nothing where it could not be asked.
    std::unordered_map<HostString, std::optional<std::uint64_t>, FolderHash, std::equal_to<>>
        m_devices;
    // The writers' hosts outlive the files they wrote.
    std::vector<std::unique_ptr<CopyPrimitives>> m_hosts;

    std::mutex m_mutex;
    // Writers wait for work they may take up; the turn for a writer to finish.
    std::condition_variable m_work, m_finished;
    std::deque<EntryPtr> m_entries; // lines looked at whose turns are to come, in order
    std::unordered_map<std::uint64_t, int> m_open;
    int m_openInAll = 0;
    std::vector<std::uint64_t> m_busy; // file systems a writer writes on now
    std::vector<std::uint64_t> m_seen; // file systems with lines
    std::optional<std::uint64_t> m_turnDevice;
    std::atomic<bool> m_stopping{false};
    std::vector<std::thread> m_writers;
};
