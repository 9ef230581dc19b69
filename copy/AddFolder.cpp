#include "copy/AddFolder.h"

#include "base/Text.h"
#include "platform/FileServices.h"
#include "platform/PlatformError.h"
#include "shared/SharedRoutines.h"

bool IsExistingFile(FileServices& files, std::u16string_view path) {
    if (!hasWildcard(path))
        return files.openExisting(path);
    // No single file opens under a wildcard name; its matches are what the copy takes. A
    // search that fails finds nothing, or a long list would report once for every line.
    try {
        return findsOrdinaryFile(files, path);
    } catch (const PlatformError&) {
        return false;
    }
}
