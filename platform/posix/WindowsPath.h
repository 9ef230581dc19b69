#pragma once

#include <optional>
#include <string>
#include <string_view>

// Windows paths on a POSIX host: drive Z: is the host root, shares and other drives do not
// exist. Paths are normalised as Windows does before mapping.

// The host form of a Windows path. Throws PlatformError when it has none (another drive, a
// share, a name with U+0000 or a foreign lone surrogate, or wildcards where none may stand;
// `allowWildcards` lets the last segment hold * and ?). A trailing "\" is kept as "/".
std::string toHostPath(std::u16string_view windowsPath, bool allowWildcards = false);

// The Windows form of an absolute host path.
std::u16string toWindowsPath(std::string_view hostPath);

// True when the path ends with a separator ("\" or "/").
bool endsWithSeparator(std::u16string_view windowsPath);

// The Windows form of a name written as a host path ("/home/ann/a.txt"), its "." and ".."
// segments resolved; nothing when Windows rules cannot carry it (a segment holding "\\", "*"
// or "?", or ending in a dot or a space): such a name is never turned into another one.
std::optional<std::u16string> nativeToWindows(std::u16string_view hostPath);
