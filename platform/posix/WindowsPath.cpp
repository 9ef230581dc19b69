#include "platform/posix/WindowsPath.h"

#include "base/Text.h"
#include "platform/PlatformError.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <unistd.h>
#include <vector>

namespace {

bool isSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

std::u16string currentFolder() {
    char buffer[PATH_MAX];
    if (!getcwd(buffer, sizeof buffer))
        throw PlatformError::fromErrno(errno);
    return toWindowsPath(buffer);
}

PlatformError badName() {
    return PlatformError(u"The filename, directory name, or volume label syntax is incorrect.",
                         EILSEQ);
}

// Resolves "." and ".." and drops empty segments; the last segment loses trailing dots and
// spaces first, as Windows does.
std::vector<std::u16string_view> resolveSegments(std::u16string_view rooted) {
    std::vector<std::u16string_view> parts;
    std::size_t start = 0;
    while (start <= rooted.size()) {
        std::size_t end = start;
        while (end < rooted.size() && !isSeparator(rooted[end]))
            ++end;
        std::u16string_view part = rooted.substr(start, end - start);
        const bool last = end == rooted.size();
        if (last && part != u"." && part != u"..") {
            const auto keep = part.find_last_not_of(u". ");
            part = keep == part.npos ? std::u16string_view{} : part.substr(0, keep + 1);
        }
        if (part == u"..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != u".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    return parts;
}

} // namespace

bool endsWithSeparator(std::u16string_view windowsPath) {
    return !windowsPath.empty() && isSeparator(windowsPath.back());
}

std::string toHostPath(std::u16string_view windowsPath, bool allowWildcards) {
    if (windowsPath.empty())
        throw PlatformError(u"The system cannot find the path specified.", ENOENT);
    // "\\?\" before a drive path only asks Win32 not to parse it; the path is the same.
    if (windowsPath.starts_with(u"\\\\?\\") && windowsPath.size() >= 6 && windowsPath[5] == u':')
        windowsPath.remove_prefix(4);
    if (windowsPath.size() >= 2 && isSeparator(windowsPath[0]) && isSeparator(windowsPath[1]))
        throw PlatformError(u"The network path was not found.", EHOSTUNREACH);

    std::u16string_view rest = windowsPath;
    std::u16string joined;
    const bool hasDrive =
        rest.size() >= 2 && rest[1] == u':' &&
        ((rest[0] >= u'A' && rest[0] <= u'Z') || (rest[0] >= u'a' && rest[0] <= u'z'));
    if (hasDrive) {
        if (rest[0] != u'Z' && rest[0] != u'z')
            throw PlatformError(u"The system cannot find the drive specified.", ENOENT);
        rest.remove_prefix(2);
    }
    if (rest.empty() || !isSeparator(rest[0])) {
        joined = currentFolder();
        joined += u'\\';
        joined += rest;
        rest = std::u16string_view(joined).substr(2);
    }

    const std::vector<std::u16string_view> parts = resolveSegments(rest);
    std::string host;
    host.reserve(windowsPath.size() + 16);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        if (hasWildcard(parts[i]) && !(allowWildcards && last))
            throw badName();
        const std::optional<std::string> bytes = encodeUtf8Lossless(parts[i]);
        if (!bytes)
            throw badName();
        host += '/';
        host += *bytes;
    }
    if (host.empty() || endsWithSeparator(windowsPath))
        host += '/';
    return host;
}

std::u16string toWindowsPath(std::string_view hostPath) {
    std::u16string path = u"Z:" + decodeUtf8Lossless(hostPath);
    for (char16_t& c : path)
        if (c == u'/')
            c = u'\\';
    if (path.size() == 2)
        path += u'\\';
    return path;
}

std::optional<std::u16string> nativeToWindows(std::u16string_view hostPath) {
    for (std::size_t start = 1; start <= hostPath.size();) {
        const std::size_t end = std::min(hostPath.find(u'/', start), hostPath.size());
        const std::u16string_view segment = hostPath.substr(start, end - start);
        // "." and ".." are navigation, not names ending in a dot.
        if (segment != u"." && segment != u".." &&
            (segment.find_first_of(u"\\*?") != segment.npos || segment.ends_with(u'.') ||
             segment.ends_with(u' ')))
            return std::nullopt;
        start = end + 1;
    }
    std::u16string path = u"Z:";
    path.reserve(hostPath.size() + 2);
    for (const std::u16string_view part : resolveSegments(hostPath)) {
        path += u'\\';
        path += part;
    }
    if (path.size() == 2 || endsWithSeparator(hostPath))
        path += u'\\';
    return path;
}
