#include "copy/OpenSaveFile.h"

#include "platform/FileServices.h"
#include "platform/PlatformError.h"
#include "shared/SharedRoutines.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// Read in pieces and decoded as they come, so that a list never sits in memory twice.
constexpr std::size_t kPiece = 1 << 16;

// Two bytes to a character, byte-order mark kept; returns how many bytes it used.
std::size_t appendUtf16Le(std::string_view bytes, std::u16string& text) {
    const std::size_t pairs = bytes.size() / 2;
    for (std::size_t i = 0; i < pairs; ++i)
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                             static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return 2 * pairs;
}

} // namespace

std::u16string ReadWholeFile(FileServices& files, std::u16string_view path) {
    if (!HasFile(files, path))
        return {};
    const std::int64_t length = files.fileLength(path);
    // A 32-bit count would call a file of 2 GiB or more empty.
    if (length > INT32_MAX)
        throw PlatformError(u"File too large", EFBIG);
    if (length <= 0)
        return u"empty file";
    const std::unique_ptr<InputFile> file = files.openForReading(path);
    std::u16string text;
    std::vector<char> buffer(2 * kPiece);
    std::size_t held = 0;
    std::optional<bool> utf16;
    bool atStart = true; // the held bytes begin at offset 0 of the file
    for (;;) {
        const std::size_t got = file->read(buffer.data() + held, kPiece);
        const bool last = got == 0;
        held += got;
        if (!utf16) {
            if (held == 0)
                return text;
            const auto first = static_cast<unsigned char>(buffer[0]);
            utf16 = first == 0xFF || first == 0xFE;
            text.reserve(static_cast<std::size_t>(*utf16 ? length / 2 : length));
        }
        const std::string_view bytes(buffer.data(), held);
        // A lone last byte of UTF-16 is no character.
        const std::size_t used =
            *utf16 ? appendUtf16Le(bytes, text) : files.decodeAnsi(bytes, atStart, last, text);
        if (last)
            return text;
        atStart = atStart && used == 0;
        held -= used;
        std::memmove(buffer.data(), buffer.data() + used, held);
    }
}
