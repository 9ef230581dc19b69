#pragma once

// The temporary names that exist right now, each in a folder held open. A stop by SIGINT,
// SIGTERM or SIGHUP removes them before the process ends as the signal would have ended it;
// SIGKILL and power cuts leave them to a later run's clean-up. Safe from any thread.
namespace liveNames {

// Counts `name` in `folder` as live; the first call makes the stopping signals remove it. A name
// past the registry's room is left to the clean-up, as after SIGKILL.
void add(int folder, const char* name);
// The name is gone or has become a target's: no stop may remove it any more.
void remove(int folder, const char* name);

} // namespace liveNames
