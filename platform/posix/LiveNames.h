#pragma once

#include <csignal>
#include <string_view>

// The temporary names that exist right now, each in a folder held open. A stop by SIGINT,
// SIGTERM or SIGHUP removes them before the process ends as the signal would have ended it;
// SIGKILL and power cuts leave them to a later run's clean-up. Safe from any thread.
namespace liveNames {

// Held while a temporary name is made and counted: a stop waits until the name is counted (and
// then removes it) or refused, and none is handled on this thread meanwhile.
class Making {
  public:
    Making();
    ~Making();
    Making(const Making&) = delete;
    Making& operator=(const Making&) = delete;

  private:
    sigset_t m_old;
};

// Counts `name` in `folder` (at `folderPath`) as live, under a Making; the first call makes the
// stopping signals remove it. False, and nothing counted, where a stop has begun, the registry
// has no room or the name no place: the caller removes the name at once.
bool add(int folder, std::string_view folderPath, const char* name);
// The name is gone or has become a target's: no stop may remove it any more. Names are unique
// to the process, so whichever handle on its folder made it, the name alone finds it.
void remove(const char* name);
// Keeps the stopping signals off the calling thread, which may block in a file system that no
// longer answers: a stop is then handled where it can always run.
void keepStopsOffThisThread();

} // namespace liveNames
