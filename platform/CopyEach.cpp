#include "platform/CopyEach.h"

#include "base/Text.h"
#include "platform/PlatformError.h"

bool copyEachFile(FileServices& files, std::u16string_view source, std::u16string_view destination,
                  CopyListener& listener,
                  const std::function<CopyOutcome(const std::u16string& from,
                                                  const std::u16string& to)>& copyOne) {
    const std::size_t cut = source.find_last_of(u"\\/") + 1;
    const std::u16string folder(source.substr(0, cut));
    const std::u16string_view name = source.substr(cut);
    std::u16string to(destination);
    const bool intoFolder = !to.empty() && (to.back() == u'\\' || to.back() == u'/');
    if (!hasWildcard(name)) {
        if (intoFolder)
            to += name;
        listener.copied({}, copyOne(std::u16string(source), to));
        return true;
    }
    if (!intoFolder)
        to += u'\\';
    const std::vector<std::u16string> matches = files.findOrdinaryFiles(source, SIZE_MAX);
    for (const std::u16string& match : matches) {
        try {
            listener.copied(match, copyOne(folder + match, to + match));
        } catch (const PlatformError& error) {
            listener.notCopied(match, error);
        }
    }
    return !matches.empty();
}
