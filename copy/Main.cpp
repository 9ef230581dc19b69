#include "copy/Main.h"

#include "base/Text.h"
#include "copy/AddFolder.h"
#include "platform/FileServices.h"
#include "platform/PlatformError.h"
#include "shared/SharedRoutines.h"

#include <optional>

namespace {

// Replaces "\\" by "\" in one left-to-right pass over non-overlapping pairs.
void appendFoldingPairs(std::u16string& out, std::u16string_view path) {
    for (std::size_t i = 0; i < path.size(); ++i) {
        out.push_back(path[i]);
        if (path[i] == u'\\' && i + 1 < path.size() && path[i + 1] == u'\\')
            ++i;
    }
}

// A name as a copy takes it, separators tidied; nothing for a blank or overlong one, or one
// with a NUL, which no Windows name can hold.
std::optional<std::u16string> tidyName(std::u16string_view name) {
    if (trimSpaces(name).empty() || name.size() > kLongestPath ||
        name.find(u'\0') != std::u16string_view::npos)
        return std::nullopt;
    return TidySeparators(name);
}

} // namespace

void CopyToTarget(FileServices& files, std::u16string_view source, std::u16string_view target,
                  OutcomeObserver* observer) {
    const auto skip = [observer](Skip why, std::u16string_view detail = {}) {
        if (observer)
            observer->skipped(why, detail);
    };
    const std::optional<std::u16string> tidiedSource = tidyName(source);
    std::optional<std::u16string> tidiedTarget = tidyName(target);
    if (!tidiedSource || !tidiedTarget)
        return skip(Skip::NoName);
    const std::u16string& tidySource = *tidiedSource;
    std::u16string& tidyTarget = *tidiedTarget;
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
    // A line's name made as the run makes it: trimmed, a host's own path mapped, then as a copy
    // takes it.
    files.planCopies(TidySeparators(source), lines.size(),
                     [&files, &lines](std::size_t line) -> std::optional<std::u16string> {
                         std::u16string name(trimSpaces(lines[line]));
                         if (std::optional<std::u16string> mapped = files.mapNativeName(name))
                             name = std::move(*mapped);
                         return tidyName(name);
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
