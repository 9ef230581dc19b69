#include "shared/SharedRoutines.h"

#include "platform/FileServices.h"
#include "platform/PlatformError.h"
#include "platform/RandomSource.h"
#include "platform/Shell.h"

bool HasFile(FileServices& files, std::u16string_view path) {
    try {
        files.lastModified(path);
        return true;
    } catch (const PlatformError&) {
        return false;
    }
}

std::u16string FolderOf(std::u16string_view path) {
    const std::size_t last = path.rfind(u'\\');
    return std::u16string(last == path.npos ? std::u16string_view{} : path.substr(0, last + 1));
}

bool findsOrdinaryFile(FileServices& files, std::u16string_view pattern) {
    return !files.findOrdinaryFiles(pattern, 1).empty();
}

void VisitHomePage(RandomSource& random, Shell& shell) {
    random.randomize();
    const int draw = static_cast<int>(random.rnd() * 100) + 1;
    if (draw == 7)
        shell.launch(u"explorer \"" + std::u16string(kHomePage) + u"\"", kMinimizedFocus);
}
