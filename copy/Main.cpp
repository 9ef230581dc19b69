#include "copy/Main.h"

#include "base/Text.h"
#include "copy/AddFolder.h"
#include "platform/FileServices.h"
#include "platform/PlatformError.h"
#include "shared/SharedRoutines.h"

namespace {

// Replaces "\\" by "\" in one left-to-right pass over non-overlapping pairs.
void appendFoldingPairs(std::u16string& out, std::u16string_view path) {
    for (std::size_t i = 0; i < path.size(); ++i) {
        out.push_back(path[i]);
        if (path[i] == u'\\' && i + 1 < path.size() && path[i + 1] == u'\\')
            ++i;
    }
}

} // namespace

void CopyToTarget(FileServices& files, std::u16string_view source, std::u16string_view target,
                  OutcomeObserver* observer) {
    const auto skip = [observer](Skip why, std::u16string_view detail = {}) {
        if (observer)
            observer->skipped(why, detail);
    };
    if (trimSpaces(target).empty() || trimSpaces(source).empty())
        return skip(Skip::NoName);
    if (target.size() > kLongestPath || source.size() > kLongestPath)
        return skip(Skip::NoName);
    const std::u16string tidySource = TidySeparators(source);
    std::u16string tidyTarget = TidySeparators(target);
    if (hasWildcard(tidySource))
        tidyTarget = FolderOf(tidyTarget);
    const bool sourceExists = IsExistingFile(files, tidySource);
    const std::u16string folder = FolderOf(tidyTarget);
    std::u16string unreachable;
    const bool folderExists = IsFolder(files, folder, &unreachable);
    if (sourceExists && folderExists)
        CopyOneFile(files, tidySource, tidyTarget, observer);
    else if (!sourceExists)
        skip(Skip::NoSource);
    else if (folder.empty())
        skip(Skip::NoName);
    else
        skip(unreachable.empty() ? Skip::NoFolder : Skip::FolderUnreachable, unreachable);
}

void PlanCopies(FileServices& files, std::u16string_view source,
                const std::vector<std::u16string_view>& lines) {
    const std::u16string tidySource = TidySeparators(source);
    // A line's name made as the run makes it: trimmed, a host's own path mapped.
    files.planCopies(tidySource, lines.size(),
                     [&files, &lines](std::size_t line) -> std::optional<std::u16string> {
                         std::u16string name(trimSpaces(lines[line]));
                         if (std::optional<std::u16string> mapped = files.mapNativeName(name))
                             name = std::move(*mapped);
                         if (trimSpaces(name).empty() || name.size() > kLongestPath)
                             return std::nullopt;
                         return TidySeparators(name);
                     });
}

void CopyOneFile(FileServices& files, std::u16string_view source, std::u16string_view destination,
                 CopyListener* listener) {
    class Ignoring : public CopyListener {
        void copied(std::u16string_view, CopyOutcome, std::u16string_view) override {}
        void notCopied(std::u16string_view, const PlatformError&) override {}
    } ignoring;
    try {
        files.copyFile(source, destination, listener ? *listener : ignoring);
    } catch (const PlatformError& failure) {
        // A refused copy leaves the target as it was, without a word.
        if (listener)
            listener->notCopied({}, failure);
    }
}

bool IsFolder(FileServices& files, std::u16string_view path, std::u16string* unreachable) {
    try {
        return files.probeFolder(path);
    } catch (const PlatformError& failure) {
        if (unreachable && !failure.isMissing())
            *unreachable = failure.description();
        return false;
    }
}

std::u16string TidySeparators(std::u16string_view path) {
    std::u16string tidy;
    tidy.reserve(path.size() + 1);
    if (path.empty() || path[0] != u'\\') {
        appendFoldingPairs(tidy, path);
        return tidy;
    }
    const std::size_t first = std::min(path.find_first_not_of(u'\\'), path.size());
    tidy = u"\\\\";
    appendFoldingPairs(tidy, path.substr(first));
    return tidy;
}
