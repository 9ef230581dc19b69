#include "platform/FileServices.h"

std::string readToEnd(InputFile& file, std::size_t sizeHint) {
    std::string bytes(sizeHint == 0 ? 1 : sizeHint, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size())
            bytes.resize(bytes.size() * 2);
        const std::size_t got = file.read(bytes.data() + used, bytes.size() - used);
        if (got == 0)
            break;
        used += got;
    }
    bytes.resize(used);
    return bytes;
}
