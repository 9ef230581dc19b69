#include "app/StartUp.h"

#include "platform/PlatformError.h"

#include <cerrno>

std::u16string CutApplicationTitle(std::u16string_view productName) {
    std::u16string title(productName);
    while (title.size() > 40) {
        const std::size_t space = title.rfind(u' ');
        if (space == std::u16string::npos)
            throw PlatformError(u"Invalid procedure call or argument", EINVAL);
        title.resize(space);
    }
    return title;
}
