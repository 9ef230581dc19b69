#include "platform/WriteAhead.h"

#include "platform/PlatformError.h"

#include <algorithm>
#include <cerrno>

namespace {

#ifdef _WIN32
constexpr HostString::value_type kSeparator = L'\\';
#else
constexpr HostString::value_type kSeparator = '/';
#endif

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

} // namespace

WriteAhead::WriteAhead(CopyPrimitives& host, MakeHost makeHost, HostString source,
                       std::size_t lines, Destination destination, HostPath hostPath)
    : m_host(host), m_makeHost(std::move(makeHost)), m_source(std::move(source)), m_lines(lines),
      m_destination(std::move(destination)), m_hostPath(std::move(hostPath)) {}

WriteAhead::~WriteAhead() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        for (const EntryPtr& entry : m_entries)
            entry->dropped = true;
    }
    m_work.notify_all();
    for (std::thread& writer : m_writers)
        writer.join();
    m_entries.clear();
}

std::optional<std::uint64_t> WriteAhead::deviceOf(const HostString& path) {
    const std::basic_string_view<HostString::value_type> folder(path.data(),
                                                                path.rfind(kSeparator) + 1);
    const auto known = m_devices.find(folder);
    if (known != m_devices.end())
        return known->second;
    Result<std::uint64_t> device = m_host.deviceOf(path);
    if (m_devices.size() >= 4096)
        m_devices.clear();
    return m_devices
        .emplace(HostString(folder),
                 device.error() ? std::nullopt : std::optional<std::uint64_t>(*device))
        .first->second;
}

// Looks at the lines past those looked at, up to the look-ahead; a writer starts for each file
// system first met, while there are fewer than the most.
void WriteAhead::lookAhead() {
    std::size_t waiting;
    {
        const std::lock_guard lock(m_mutex);
        waiting = m_entries.size();
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
        const std::optional<std::uint64_t> device = deviceOf(destination);
        if (!device)
            continue;
        found.push_back(std::make_shared<Entry>());
        found.back()->given = std::move(*given);
        found.back()->destination = std::move(destination);
        found.back()->device = *device;
    }
    if (found.empty())
        return;
    const std::lock_guard lock(m_mutex);
    // Lines on the turn's file system wait for the turn to move on: no writer is woken for them.
    bool work = false;
    for (EntryPtr& entry : found) {
        work = work || entry->device != m_turnDevice;
        if (std::ranges::find(m_seen, entry->device) == m_seen.end()) {
            m_seen.push_back(entry->device);
            if (m_writers.size() < kMostWriters) {
                CopyPrimitives& host = *m_hosts.emplace_back(m_makeHost());
                m_writers.emplace_back([this, &host] { write(host); });
            }
        }
        m_entries.push_back(std::move(entry));
    }
    if (work)
        m_work.notify_all();
}

// The first line waiting whose file system is free: not the turn's, no writer on it, and room
// for one more open file there and in all.
WriteAhead::EntryPtr WriteAhead::pick() {
    if (m_openInAll >= kMostInAll)
        return nullptr;
    for (const EntryPtr& entry : m_entries) {
        const std::uint64_t device = entry->device;
        if (entry->state == State::Waiting && device != m_turnDevice && !busy(device) &&
            m_open[device] < kMostPerDevice)
            return entry;
    }
    return nullptr;
}

bool WriteAhead::busy(std::uint64_t device) const {
    return std::ranges::find(m_busy, device) != m_busy.end();
}

void WriteAhead::write(CopyPrimitives& host) {
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
        m_busy.push_back(entry->device);
        ++m_open[entry->device];
        ++m_openInAll;
        lock.unlock();
        CopySequence::PreparedFile made;
        stopper.watch(&entry->dropped);
        // A failure here is no outcome: the turn copies again, and tells its own.
        try {
            made = sequence.prepare(m_source, entry->destination);
        } catch (...) {
            made.reset();
        }
        lock.lock();
        std::erase(m_busy, entry->device);
        finished(*entry, std::move(made));
        m_finished.notify_all();
    }
}

void WriteAhead::finished(Entry& entry, CopySequence::PreparedFile made) {
    if (made && !entry.dropped) {
        entry.file = std::move(made);
        entry.state = State::Ready;
        return;
    }
    entry.state = State::Failed;
    release(entry.device);
}

void WriteAhead::release(std::uint64_t device) {
    --m_open[device];
    --m_openInAll;
}

// The turn writes on `device` itself: its writer finishes first, and the files written ahead
// there go, so that the turn finds the space it would find one target at a time.
void WriteAhead::claim(std::uint64_t device) {
    std::vector<CopySequence::PreparedFile> dropped;
    std::unique_lock lock(m_mutex);
    m_finished.wait(lock, [&] { return !busy(device); });
    if (m_open[device] == 0)
        return;
    for (const EntryPtr& entry : m_entries)
        if (entry->device == device && entry->state == State::Ready) {
            dropped.push_back(std::move(entry->file));
            entry->state = State::Failed;
            release(device);
        }
    lock.unlock();
    m_work.notify_all();
}

CopyOutcome WriteAhead::copy(CopySequence& sequence, const HostString& source,
                             std::u16string_view given) {
    lookAhead();
    // Only the turn changes the lines looked at, so it reads them unlocked.
    const auto found = std::ranges::find_if(
        m_entries, [&](const EntryPtr& entry) { return entry->given == given; });
    const bool planned = found != m_entries.end();
    const HostString destination = planned ? (*found)->destination : m_hostPath(given);
    const std::optional<std::uint64_t> device =
        planned ? std::optional((*found)->device) : deviceOf(destination);
    CopySequence::Ahead ahead;
    std::vector<CopySequence::PreparedFile> passed;
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
                    release((*it)->device);
                }
            }
            m_entries.erase(m_entries.begin(), found + 1);
        }
        // A writer may take up what the turn leaves: another file system, or room again.
        work = !passed.empty() || m_turnDevice != device;
        m_turnDevice = device;
        if (entry) {
            m_finished.wait(lock, [&] { return entry->state != State::Writing; });
            if (entry->state == State::Ready) {
                ahead.file = std::move(entry->file);
                release(entry->device);
                work = true;
            }
        }
    }
    if (work)
        m_work.notify_all();
    passed.clear();
    if (device)
        ahead.writingHere = [this, &device] { claim(*device); };
    return sequence.copy(source, destination, &ahead);
}
