#include "platform/posix/LiveNames.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <mutex>
#include <unistd.h>

namespace {

enum State : int { kFree, kWriting, kLive };

// What a signal handler may read: plain slots, each published by an atomic state.
struct Slot {
    std::atomic<int> state{kFree};
    int folder = -1;
    char name[NAME_MAX + 1] = {};
};

// Room for every file a run prepares at once, with a margin.
Slot g_slots[256];

constexpr int kStops[] = {SIGINT, SIGTERM, SIGHUP};

void onStop(int signal) {
    const int saved = errno;
    for (Slot& slot : g_slots)
        if (slot.state.load(std::memory_order_acquire) == kLive)
            ::unlinkat(slot.folder, slot.name, 0);
    errno = saved;
    // The handler was reset as it ran, and the signal is blocked until it returns: it then ends
    // the process as it would have without us.
    ::raise(signal);
}

void catchStops() {
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

void add(int folder, const char* name) {
    static std::once_flag caught;
    std::call_once(caught, catchStops);
    if (std::strlen(name) > NAME_MAX)
        return;
    for (Slot& slot : g_slots) {
        int expected = kFree;
        if (!slot.state.compare_exchange_strong(expected, kWriting, std::memory_order_acquire))
            continue;
        slot.folder = folder;
        std::strcpy(slot.name, name);
        slot.state.store(kLive, std::memory_order_release);
        return;
    }
}

void remove(int folder, const char* name) {
    for (Slot& slot : g_slots)
        if (slot.state.load(std::memory_order_acquire) == kLive && slot.folder == folder &&
            std::strcmp(slot.name, name) == 0) {
            slot.state.store(kFree, std::memory_order_release);
            return;
        }
}

} // namespace liveNames
