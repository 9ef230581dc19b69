#include "platform/CopyingFileServices.h"

#include "base/Text.h"
#include "platform/PlatformError.h"

namespace {

bool endsInSeparator(std::u16string_view path) {
    return !path.empty() && (path.back() == u'\\' || path.back() == u'/');
}

// Where a plain source goes: into a destination that ends in a separator, under its own name.
std::u16string plainDestination(std::u16string_view source, std::u16string_view destination) {
    std::u16string to(destination);
    if (endsInSeparator(to))
        to += source.substr(source.find_last_of(u"\\/") + 1);
    return to;
}

} // namespace

void CopyingFileServices::copyFile(std::u16string_view source, std::u16string_view destination,
                                   CopyListener& listener) {
    copyEach(source, destination, listener, false);
}

void CopyingFileServices::checkCopy(std::u16string_view source, std::u16string_view destination,
                                    CopyListener& listener) {
    copyEach(source, destination, listener, true);
}

void CopyingFileServices::planCopies(
    std::u16string_view source, std::size_t lines,
    std::function<std::optional<std::u16string>(std::size_t)> destination) {
    m_ahead.reset();
    // Each match of a wildcard is found at its own turn, which may find an earlier line's file.
    if (hasWildcard(source.substr(source.find_last_of(u"\\/") + 1)))
        return;
    HostString hostFrom;
    try {
        hostFrom = hostSource(source);
    } catch (const PlatformError&) {
        return;
    }
    m_ahead = std::make_unique<WriteAhead>(
        m_primitives, m_makeHost, std::move(hostFrom), lines,
        [source = std::u16string(source),
         destination = std::move(destination)](std::size_t line) -> std::optional<std::u16string> {
            if (std::optional<std::u16string> to = destination(line))
                return plainDestination(source, *to);
            return std::nullopt;
        },
        [this](std::u16string_view path) { return hostPath(path); }, m_tell);
}

void CopyingFileServices::makeDurable() {
    m_ahead.reset();
}

void CopyingFileServices::guardFile(const FileIdentity& file) {
    m_copy.guard(file);
}

const HostString& CopyingFileServices::hostSource(std::u16string_view path) {
    if (path != m_source || m_source.empty()) {
        m_hostSource = hostPath(path);
        m_source = path;
    }
    return m_hostSource;
}

void CopyingFileServices::copyEach(std::u16string_view source, std::u16string_view destination,
                                   CopyListener& listener, bool checkOnly) {
    const auto copyOne = [&](std::u16string_view match, std::u16string_view from,
                             std::u16string_view to) {
        const HostString& hostFrom = hostSource(from);
        // A line written ahead was mapped as it was looked at.
        const CopyOutcome outcome = checkOnly ? m_copy.check(hostFrom, hostPath(to))
                                    : m_ahead && match.empty()
                                        ? m_ahead->copy(m_copy, hostFrom, to)
                                        : m_copy.copy(hostFrom, hostPath(to));
        listener.copied(match, outcome,
                        m_copy.written().empty() ? std::u16string()
                                                 : windowsPath(m_copy.written()));
    };
    const std::size_t cut = source.find_last_of(u"\\/") + 1;
    const std::u16string folder(source.substr(0, cut));
    const std::u16string_view name = source.substr(cut);
    if (!hasWildcard(name)) {
        copyOne({}, source, plainDestination(source, destination));
        return;
    }
    std::u16string to(destination);
    if (!endsInSeparator(to))
        to += u'\\';
    const std::vector<std::u16string> matches = findOrdinaryFiles(source, SIZE_MAX);
    if (matches.empty())
        throw PlatformError::fromCondition(std::errc::no_such_file_or_directory);
    for (const std::u16string& match : matches) {
        try {
            copyOne(match, folder + match, to + match);
        } catch (const PlatformError& error) {
            listener.notCopied(match, error);
        }
    }
}
