#include "platform/posix/LiveNames.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

enum State : int { kFree, kWriting, kLive };

// What a signal handler may read: plain slots, each published by an atomic state.
struct Slot {
    std::atomic<int> state{kFree};
    int folder = -1;
    char path[PATH_MAX] = {}; // the folder's, then the name: told should the name be left
    std::size_t nameAt = 0;
};

// Room for every file a run holds at once, with a margin: a run writes ahead fewer.
constexpr int kSlots = 256;
Slot g_slots[kSlots];

constexpr int kStops[] = {SIGINT, SIGTERM, SIGHUP};
// A stop waits for the names to go while they go: a file system that has not answered for a
// second is taken for hung, and its name is left and said.
constexpr int kWaitSteps = 100;
constexpr timespec kStep{0, 10'000'000};

// The remover waits on this pipe for a stop; it then removes every live name, counting each.
int g_wake[2] = {-1, -1};
std::atomic<int> g_gone{0};
std::atomic<bool> g_removed{false};
// A stop has begun: no name is counted any more. Names being made meanwhile are waited for.
std::atomic<bool> g_stopping{false};
std::atomic<int> g_making{0};

sigset_t stops() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kStops)
        sigaddset(&set, signal);
    return set;
}

void removeAll() {
    char byte;
    while (::read(g_wake[0], &byte, 1) < 0 && errno == EINTR) {
    }
    for (Slot& slot : g_slots)
        if (slot.state.load(std::memory_order_acquire) == kLive &&
            ::unlinkat(slot.folder, slot.path + slot.nameAt, 0) == 0) {
            slot.state.store(kFree, std::memory_order_release);
            g_gone.fetch_add(1, std::memory_order_release);
        }
    g_removed.store(true, std::memory_order_release);
}

void say(const char* text) {
    (void)!::write(STDERR_FILENO, text, std::strlen(text));
}

void onStop(int signal) {
    const int saved = errno;
    g_stopping.store(true);
    (void)!::write(g_wake[1], "", 1);
    for (int step = 0, gone = 0;
         step < kWaitSteps && !(g_removed.load(std::memory_order_acquire) && g_making.load() == 0);
         ++step) {
        ::nanosleep(&kStep, nullptr);
        if (const int now = g_gone.load(std::memory_order_acquire); now != gone) {
            gone = now;
            step = 0;
        }
    }
    for (const Slot& slot : g_slots)
        if (slot.state.load(std::memory_order_acquire) == kLive) {
            say(program_invocation_short_name);
            say(": temporary file left, its file system did not answer: ");
            say(slot.path);
            say("\n");
        }
    errno = saved;
    // The handler was reset as it ran, and the signal is blocked until it returns: it then ends
    // the process as it would have without us.
    ::raise(signal);
}

// The names are removed on a thread of their own, which takes no stop, so that a name on a
// file system that hangs costs the stop at most a second.
void catchStops() {
    if (::pipe2(g_wake, O_CLOEXEC) != 0)
        return;
    try {
        std::thread([] {
            liveNames::keepStopsOffThisThread();
            removeAll();
        }).detach();
    } catch (const std::system_error&) {
        return; // no stop removes anything: names are left to the clean-up, as after SIGKILL
    }
    struct sigaction action {};
    action.sa_handler = onStop;
    action.sa_flags = SA_RESETHAND;
    sigfillset(&action.sa_mask);
    for (const int signal : kStops) {
        struct sigaction old {};
        // A stop someone chose to ignore stays ignored.
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            ::sigaction(signal, &action, nullptr);
    }
}

} // namespace

namespace liveNames {

bool add(int folder, std::string_view folderPath, const char* name) {
    static std::once_flag caught;
    std::call_once(caught, catchStops);
    const std::size_t length = std::strlen(name);
    if (length > NAME_MAX || folderPath.size() + length >= PATH_MAX)
        return false;
    for (Slot& slot : g_slots) {
        int expected = kFree;
        if (!slot.state.compare_exchange_strong(expected, kWriting, std::memory_order_acquire))
            continue;
        slot.folder = folder;
        folderPath.copy(slot.path, folderPath.size());
        std::memcpy(slot.path + folderPath.size(), name, length + 1);
        slot.nameAt = folderPath.size();
        slot.state.store(kLive);
        // Counted before a stop began, the name is the remover's to remove; after, the caller's.
        if (!g_stopping.load())
            return true;
        slot.state.store(kFree);
        return false;
    }
    return false;
}

Making::Making() {
    const sigset_t set = stops();
    ::pthread_sigmask(SIG_BLOCK, &set, &m_old);
    g_making.fetch_add(1);
}

Making::~Making() {
    g_making.fetch_sub(1);
    ::pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
}

void remove(const char* name) {
    for (Slot& slot : g_slots)
        if (slot.state.load(std::memory_order_acquire) == kLive &&
            std::strcmp(slot.path + slot.nameAt, name) == 0) {
            slot.state.store(kFree, std::memory_order_release);
            return;
        }
}

void keepStopsOffThisThread() {
    const sigset_t set = stops();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

} // namespace liveNames
