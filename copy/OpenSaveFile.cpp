#include "copy/OpenSaveFile.h"

#include "base/Text.h"
#include "platform/FileServices.h"
#include "platform/PlatformError.h"
#include "shared/SharedRoutines.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// Read in pieces and decoded as they come, so that a list never sits in memory twice.
constexpr std::size_t kPiece = 1 << 16;

enum class Reading { Utf16, Utf8, Ansi };

// Two bytes to a character, byte-order mark kept; returns how many bytes it used.
std::size_t appendUtf16Le(std::string_view bytes, std::u16string& text) {
    const std::size_t pairs = bytes.size() / 2;
    for (std::size_t i = 0; i < pairs; ++i)
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                             static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return 2 * pairs;
}

// Lossless UTF-8 decoding stands in for a byte of no UTF-8 by U+DC80..U+DCFF.
bool holdsNoUtf8(std::u16string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char16_t c) { return c >= 0xDC80 && c <= 0xDCFF; });
}

// Appends the file's text, read as UTF-16 when its first byte says so and as `reading` (UTF-8
// or the ANSI code page) otherwise. False, as soon as it shows, when a file read as UTF-8
// without starting with its byte-order mark is no UTF-8.
bool readPieces(FileServices& files, std::u16string_view path, std::int64_t length, Reading reading,
                std::u16string& text) {
    const std::unique_ptr<InputFile> file = files.openForReading(path);
    std::vector<char> buffer(2 * kPiece);
    std::size_t held = 0;
    std::optional<Reading> as;
    bool atStart = true; // the held bytes begin at offset 0 of the file
    bool marked = false;
    for (;;) {
        const std::size_t got = file->read(buffer.data() + held, kPiece);
        const bool last = got == 0;
        held += got;
        if (!as) {
            if (held == 0)
                return true;
            const auto first = static_cast<unsigned char>(buffer[0]);
            as = first == 0xFF || first == 0xFE ? Reading::Utf16 : reading;
            text.reserve(static_cast<std::size_t>(*as == Reading::Utf16 ? length / 2 : length));
        }
        const std::string_view bytes(buffer.data(), held);
        const std::size_t before = text.size();
        std::size_t used = 0;
        if (*as == Reading::Utf16) {
            used = appendUtf16Le(bytes, text); // a lone last byte of UTF-16 is no character
        } else if (*as == Reading::Utf8) {
            marked = marked || (atStart && bytes.starts_with("\xEF\xBB\xBF"));
            used = appendUtf8Text(bytes, atStart, last, text);
            if (!marked && holdsNoUtf8(std::u16string_view(text).substr(before)))
                return false;
        } else {
            used = files.decodeAnsi(bytes, atStart, last, text);
        }
        if (last)
            return true;
        atStart = atStart && used == 0;
        held -= used;
        std::memmove(buffer.data(), buffer.data() + used, held);
    }
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
    // Notepad saves UTF-8 without a mark: a list is UTF-8 until a byte says otherwise, and is
    // then read again in the code page. ASCII reads the same either way.
    std::u16string text;
    if (readPieces(files, path, length, Reading::Utf8, text))
        return text;
    text.clear();
    readPieces(files, path, length, Reading::Ansi, text);
    return text;
}
