#include "copy/OpenSaveFile.h"

#include "platform/FileServices.h"
#include "platform/PlatformError.h"
#include "shared/SharedRoutines.h"

#include <cerrno>
#include <cstdint>

std::u16string ReadWholeFile(FileServices& files, std::u16string_view path) {
    if (!HasFile(files, path))
        return {};
    const std::int64_t length = files.fileLength(path);
    // A 32-bit count would call a file of 2 GiB or more empty.
    if (length > INT32_MAX)
        throw PlatformError(u"File too large", EFBIG);
    if (length <= 0)
        return u"empty file";
    const std::string bytes = files.readWholeFile(path);
    if (bytes.empty())
        return {};
    const auto first = static_cast<unsigned char>(bytes[0]);
    if (first != 0xFF && first != 0xFE)
        return files.decodeAnsi(bytes);
    // Two bytes to a character, byte-order mark kept; a lone last byte is no character.
    std::u16string text(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                        static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    return text;
}
