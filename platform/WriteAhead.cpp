#include "platform/WriteAhead.h"

#include "platform/PlatformError.h"

#include <algorithm>
#include <cerrno>
#include <string>

namespace {

// Stops a writer's copy between pieces once its file is no longer wanted.
class Stopper : public CopyObserver {
  public:
    explicit Stopper(const std::atomic<bool>& stopping) : m_stopping(stopping) {}
    void watch(const std::atomic<bool>* dropped) { m_dropped = dropped; }
    void reached(CopyPoint, const CopyHolding&) override {
        if (m_stopping || (m_dropped && *m_dropped))
            throw PlatformError(u"stopped", ECANCELED);
    }

  private:
    const std::atomic<bool>& m_stopping;
    const std::atomic<bool>* m_dropped = nullptr;
};

bool outOfHandles(const std::error_code& code) {
    return code == std::errc::too_many_files_open ||
           code == std::errc::too_many_files_open_in_system;
}

// What a run one target at a time might not have run short of: room, or handles.
bool shortOfWhatIsHeld(const PlatformError& error) {
    return error.refusal() == Refusal::NoSpace || PlatformError::isNoSpace(error.code()) ||
           outOfHandles(error.code());
}

std::u16string number(std::size_t n) {
    const std::string digits = std::to_string(n);
    return {digits.begin(), digits.end()};
}

} // namespace

WriteAhead::WriteAhead(CopyPrimitives& host, MakeHost makeHost, HostString source,
                       std::size_t lines, Destination destination, HostPath hostPath, Tell tell)
    : m_host(host), m_makeHost(std::move(makeHost)), m_source(std::move(source)), m_lines(lines),
      m_destination(std::move(destination)), m_hostPath(std::move(hostPath)),
      m_tell(std::move(tell)), m_handles(host.handlesToSpare()) {
    // A rewrite its facts might not show would leave a file written ahead stale unseen.
    Result<bool> tracked = m_host.tracksChanges(m_source);
    Result<CopySource> opened = m_host.openSource(m_source);
    if (tracked.error() || !*tracked || opened.error())
        m_lines = 0;
    else
        m_size = opened->facts.size;
}

WriteAhead::~WriteAhead() {
    {
        std::unique_lock lock(m_mutex);
        m_stopping = true;
        for (const EntryPtr& entry : m_entries)
            entry->dropped = true;
    }
    m_work.notify_all();
    for (std::thread& writer : m_writers)
        writer.join();
    m_entries.clear();
    if (!m_tell)
        return;
    tellFailures();
    m_tell(number(m_counts.written) + u" written ahead, " + number(m_counts.taken) +
           u" taken at their turn, " + number(m_counts.failed) + u" failed");
}

WriteAhead::Counts WriteAhead::counts() const {
    const std::lock_guard lock(m_mutex);
    return m_counts;
}

// The space of the file a path names, asked once per space for its room.
std::optional<std::uint64_t> WriteAhead::spaceOf(const HostString& path) {
    Result<SpaceFacts> space = m_host.spaceOf(path);
    if (space.error())
        return std::nullopt;
    const std::lock_guard lock(m_mutex); // writers read the room as they pick
    m_room.try_emplace(space->key, space->free / 4);
    return space->key;
}

// Looks at the lines past those looked at, up to the look-ahead; a writer starts for each space
// first met, while there are fewer than the most.
void WriteAhead::lookAhead() {
    std::size_t waiting;
    {
        const std::lock_guard lock(m_mutex);
        waiting = m_stopping ? kLookAhead : m_entries.size();
    }
    std::vector<EntryPtr> found;
    while (m_scanned < m_lines && waiting + found.size() < kLookAhead) {
        std::optional<std::u16string> given = m_destination(m_scanned++);
        if (!given)
            continue;
        HostString destination;
        try {
            destination = m_hostPath(*given);
        } catch (const PlatformError&) {
            continue; // its turn says why
        }
        const std::optional<std::uint64_t> space = spaceOf(destination);
        if (!space)
            continue;
        found.push_back(std::make_shared<Entry>());
        found.back()->given = std::move(*given);
        found.back()->destination = std::move(destination);
        found.back()->space = *space;
    }
    if (found.empty())
        return;
    const std::lock_guard lock(m_mutex);
    // Lines on the turn's space wait for the turn to move on: no writer is woken for them.
    bool work = false;
    for (EntryPtr& entry : found) {
        work = work || entry->space != m_turnSpace;
        if (std::ranges::find(m_seen, entry->space) == m_seen.end()) {
            m_seen.push_back(entry->space);
            startWriter();
        }
        m_entries.push_back(std::move(entry));
    }
    if (work)
        m_work.notify_all();
}

// A writer more, where the handles allow one that can hold a file; a thread that cannot start
// leaves the lines to their turns.
void WriteAhead::startWriter() {
    if (m_writers.size() >= kMostWriters)
        return;
    if (handlesLeft(m_writers.size() + 1) < 2)
        return;
    try {
        CopyPrimitives& host = *m_hosts.emplace_back(m_makeHost());
        m_writers.emplace_back([this, &host] { write(host); });
    } catch (const std::exception&) {
        if (m_hosts.size() > m_writers.size())
            m_hosts.pop_back();
    }
}

// The handles left for files held ahead with `writers` writers (two each: a source and a
// folder), the turn keeping its own and one for each space it may flush; plenty where the host
// sets no limit.
std::int64_t WriteAhead::handlesLeft(std::size_t writers) const {
    if (!m_handles)
        return std::int64_t{2} * kMostInAll;
    return *m_handles - kTurnHandles - static_cast<std::int64_t>(m_seen.size()) -
           2 * static_cast<std::int64_t>(writers);
}

bool WriteAhead::busy(std::uint64_t space) const {
    return std::ranges::find(m_busy, space) != m_busy.end();
}

// Whether one more file may be held ahead on `space`: by count there and in all, by the handles
// left (a file and its folder each), and by bytes.
bool WriteAhead::roomFor(std::uint64_t space) const {
    const int most =
        static_cast<int>(std::min<std::int64_t>(kMostInAll, handlesLeft(m_writers.size()) / 2));
    const auto open = m_open.find(space);
    const auto held = m_held.find(space);
    const auto room = m_room.find(space);
    return m_openInAll < most && (open == m_open.end() || open->second < kMostPerSpace) &&
           room != m_room.end() &&
           (held == m_held.end() ? 0 : held->second) + m_size <= room->second;
}

// The first line waiting whose space is free: not the turn's, no writer on it, and room there.
WriteAhead::EntryPtr WriteAhead::pick() {
    if (m_stopping)
        return nullptr;
    for (const EntryPtr& entry : m_entries) {
        const std::uint64_t space = entry->space;
        if (entry->state == State::Waiting && space != m_turnSpace && !busy(space) &&
            roomFor(space))
            return entry;
    }
    return nullptr;
}

void WriteAhead::write(CopyPrimitives& host) {
    host.writerStarted();
    CopySequence sequence(host);
    Stopper stopper(m_stopping);
    sequence.observe(&stopper);
    std::unique_lock lock(m_mutex);
    for (;;) {
        EntryPtr entry;
        m_work.wait(lock, [&] { return m_stopping || (entry = pick()); });
        if (m_stopping)
            return;
        entry->state = State::Writing;
        m_busy.push_back(entry->space);
        ++m_open[entry->space];
        ++m_openInAll;
        m_held[entry->space] += m_size;
        lock.unlock();
        CopySequence::PreparedFile made;
        std::optional<std::u16string> failure;
        bool handlesOut = false;
        stopper.watch(&entry->dropped);
        // A failure here is no outcome: the turn copies again, and tells its own.
        try {
            made = sequence.prepare(m_source, entry->destination);
        } catch (const PlatformError& error) {
            failure = error.description();
            handlesOut = outOfHandles(error.code());
        } catch (const std::exception& error) {
            const std::string_view what = error.what();
            failure = std::u16string(what.begin(), what.end());
        }
        lock.lock();
        std::erase(m_busy, entry->space);
        Dropped dropped = finished(*entry, std::move(made));
        if (failure && !entry->dropped && !m_stopping) {
            ++m_counts.failed;
            m_failures.push_back(entry->given + u": " + *failure);
        }
        m_finished.notify_all();
        // Out of handles, the run could lose a copy to what is held: it goes on one at a time.
        if (handlesOut) {
            Dropped more = stopWriting(lock);
            std::ranges::move(more, std::back_inserter(dropped));
        }
        lock.unlock();
        dropped.clear();
        lock.lock();
    }
}

// A file written is kept for its turn unless the turn went by; what is not kept is handed back
// to be dropped outside the lock.
WriteAhead::Dropped WriteAhead::finished(Entry& entry, CopySequence::PreparedFile made) {
    if (made && !entry.dropped && !m_stopping) {
        entry.file = std::move(made);
        entry.state = State::Ready;
        ++m_counts.written;
        return {};
    }
    entry.state = State::Failed;
    release(entry.space);
    Dropped dropped;
    if (made)
        dropped.push_back(std::move(made));
    return dropped;
}

void WriteAhead::release(std::uint64_t space) {
    --m_open[space];
    --m_openInAll;
    m_held[space] -= m_size;
}

// Stops writing ahead for the rest of the run: every writer ends once its piece is done, and
// every file written ahead is handed back to be dropped.
WriteAhead::Dropped WriteAhead::stopWriting(std::unique_lock<std::mutex>& lock) {
    m_stopping = true;
    for (const EntryPtr& entry : m_entries)
        entry->dropped = true;
    m_work.notify_all();
    m_finished.wait(lock, [&] { return m_busy.empty(); });
    Dropped dropped;
    for (const EntryPtr& entry : m_entries)
        if (entry->state == State::Ready) {
            dropped.push_back(std::move(entry->file));
            entry->state = State::Failed;
            release(entry->space);
        }
    return dropped;
}

// The turn writes on `space` itself: its writer finishes first, and the files written ahead
// there go, so that the turn finds the space it would find one target at a time.
void WriteAhead::claim(std::uint64_t space) {
    Dropped dropped;
    std::unique_lock lock(m_mutex);
    m_finished.wait(lock, [&] { return !busy(space); });
    for (const EntryPtr& entry : m_entries)
        if (entry->space == space && entry->state == State::Ready) {
            dropped.push_back(std::move(entry->file));
            entry->state = State::Failed;
            release(space);
        }
    lock.unlock();
    if (!dropped.empty())
        m_work.notify_all();
}

void WriteAhead::tellFailures() {
    std::vector<std::u16string> failures;
    {
        const std::lock_guard lock(m_mutex);
        failures.swap(m_failures);
    }
    if (m_tell)
        for (const std::u16string& failure : failures)
            m_tell(u"written ahead: " + failure + u"; written again at its turn");
}

void WriteAhead::settleForTesting() {
    std::unique_lock lock(m_mutex);
    m_finished.wait(lock, [&] { return m_writers.empty() || (m_busy.empty() && !pick()); });
}

CopyOutcome WriteAhead::copy(CopySequence& sequence, const HostString& source,
                             std::u16string_view given) {
    lookAhead();
    tellFailures();
    // Only the turn changes the lines looked at, so it reads them unlocked.
    const auto found = std::ranges::find_if(
        m_entries, [&](const EntryPtr& entry) { return entry->given == given; });
    const bool planned = found != m_entries.end();
    const HostString destination = planned ? (*found)->destination : m_hostPath(given);
    const std::optional<std::uint64_t> space =
        planned ? std::optional((*found)->space) : spaceOf(destination);
    CopySequence::Ahead ahead;
    Dropped passed;
    bool work = false;
    {
        std::unique_lock lock(m_mutex);
        EntryPtr entry;
        if (planned && source == m_source) {
            entry = *found;
            // The lines before it had their turns without a copy: what was written for them goes.
            for (auto it = m_entries.begin(); it != found; ++it) {
                (*it)->dropped = true;
                if ((*it)->state == State::Ready) {
                    passed.push_back(std::move((*it)->file));
                    (*it)->state = State::Failed;
                    release((*it)->space);
                }
            }
            m_entries.erase(m_entries.begin(), found + 1);
        }
        // A writer may take up what the turn leaves: another space, or room again.
        work = !passed.empty() || m_turnSpace != space;
        m_turnSpace = space;
        if (entry) {
            m_finished.wait(lock, [&] { return entry->state != State::Writing; });
            if (entry->state == State::Ready) {
                ahead.file = std::move(entry->file);
                release(entry->space);
                ++m_counts.taken;
                work = true;
            }
        }
        // The turn's own writes, its names and what they keep, meet no writer on its space.
        if (space)
            m_finished.wait(lock, [&] { return !busy(*space); });
    }
    if (work)
        m_work.notify_all();
    passed.clear();
    if (space)
        ahead.writingHere = [this, &space] { claim(*space); };
    try {
        return sequence.copy(source, destination, &ahead);
    } catch (const PlatformError& error) {
        if (!shortOfWhatIsHeld(error))
            throw;
        Dropped held;
        {
            std::unique_lock lock(m_mutex);
            if (m_openInAll == 0 && m_busy.empty())
                throw;
            held = stopWriting(lock);
        }
        held.clear();
        // Copied again with all that was held let go, the line ends as it would one target at a
        // time: a copy short of room changed nothing of its target.
        return sequence.copy(source, destination);
    }
}
