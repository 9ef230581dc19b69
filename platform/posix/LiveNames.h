#pragma once

#include <string_view>

// The temporary names that exist right now, each in a folder held open. A stop by SIGINT,
// SIGTERM or SIGHUP removes them before the process ends as the signal would have ended it;
// SIGKILL and power cuts leave them to a later run's clean-up. Safe from any thread.
namespace liveNames {

// Counts `name` in `folder` (at `folderPath`) as live; the first call makes the stopping signals
// remove it. False, and nothing counted, where the registry has no room or the name no place.
bool add(int folder, std::string_view folderPath, const char* name);
// The name is gone or has become a target's: no stop may remove it any more. Names are unique
// to the process, so whichever handle on its folder made it, the name alone finds it.
void remove(const char* name);
// Keeps the stopping signals off the calling thread, which may block in a file system that no
// longer answers: a stop is then handled where it can always run.
void keepStopsOffThisThread();

} // namespace liveNames
