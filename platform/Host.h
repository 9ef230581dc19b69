#pragma once

#include <filesystem>
#include <memory>
#include <string>

class FileServices;

// What the programs and tests above the platform layer get of the host: its services made
// here, so that no one outside the platform layer names a host's own classes.

// The host's file services.
std::unique_ptr<FileServices> hostFileServices();

// The Windows form of an absolute path of this host, as a box holds it.
std::u16string windowsFormOf(const std::filesystem::path& hostPath);
