#include "copy/AddFolder.h"

#include "platform/FileServices.h"
#include "shared/SharedRoutines.h"
#include "shared/Text.h"

bool IsExistingFile(FileServices& files, std::u16string_view path) {
    // No single file opens under a wildcard name; its matches are what the copy takes.
    if (hasWildcard(path))
        return findsOrdinaryFile(files, path);
    return files.openExisting(path);
}
