#include "platform/CopyingFileServices.h"

#include "base/Text.h"
#include "platform/PlatformError.h"

void CopyingFileServices::copyFile(std::u16string_view source, std::u16string_view destination,
                                   CopyListener& listener) {
    copyEach(source, destination, listener, false);
}

void CopyingFileServices::checkCopy(std::u16string_view source, std::u16string_view destination,
                                    CopyListener& listener) {
    copyEach(source, destination, listener, true);
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
        const HostString hostTo = hostPath(to);
        const CopyOutcome outcome =
            checkOnly ? m_copy.check(hostFrom, hostTo) : m_copy.copy(hostFrom, hostTo);
        listener.copied(match, outcome,
                        m_copy.written().empty() ? std::u16string()
                                                 : windowsPath(m_copy.written()));
    };
    const std::size_t cut = source.find_last_of(u"\\/") + 1;
    const std::u16string folder(source.substr(0, cut));
    const std::u16string_view name = source.substr(cut);
    std::u16string to(destination);
    const bool intoFolder = !to.empty() && (to.back() == u'\\' || to.back() == u'/');
    if (!hasWildcard(name)) {
        if (intoFolder)
            to += name;
        copyOne({}, source, to);
        return;
    }
    if (!intoFolder)
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
