#include "base/Text.h"

#include <algorithm>

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Length of the valid UTF-8 sequence at the start of bytes and its code point; 0 if invalid.
std::size_t decodeSequence(std::string_view bytes, char32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(bytes[0]);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (bytes.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (!isContinuation(byte))
            return 0;
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    if (codePoint < minimum || codePoint > 0x10FFFF || surrogate)
        return 0;
    return length;
}

} // namespace

std::size_t appendUtf8Lossless(std::string_view bytes, bool last, std::u16string& text) {
    const std::size_t total = bytes.size();
    while (!bytes.empty()) {
        const auto lead = static_cast<unsigned char>(bytes[0]);
        if (lead < 0x80) {
            text.push_back(lead);
            bytes.remove_prefix(1);
            continue;
        }
        char32_t codePoint = 0;
        const std::size_t length = decodeSequence(bytes, codePoint);
        if (length == 0) {
            // A sequence cut by the end of this piece may be completed by the next.
            if (!last && bytes.size() < 4 && lead >= 0xC2 && lead <= 0xF4 &&
                std::all_of(bytes.begin() + 1, bytes.end(),
                            [](char c) { return isContinuation(static_cast<unsigned char>(c)); }))
                break;
            text.push_back(static_cast<char16_t>(kEscapeBase + lead));
            bytes.remove_prefix(1);
            continue;
        }
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            text.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
            text.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
        } else {
            text.push_back(static_cast<char16_t>(codePoint));
        }
        bytes.remove_prefix(length);
    }
    return total - bytes.size();
}

std::size_t appendUtf8Text(std::string_view bytes, bool atStart, bool last, std::u16string& text) {
    constexpr std::string_view kMark = "\xEF\xBB\xBF";
    if (atStart && bytes.starts_with(kMark))
        return kMark.size() + appendUtf8Lossless(bytes.substr(kMark.size()), last, text);
    if (atStart && !last && bytes.size() < kMark.size() && kMark.starts_with(bytes))
        return 0;
    return appendUtf8Lossless(bytes, last, text);
}

std::u16string decodeUtf8Lossless(std::string_view bytes) {
    std::u16string text;
    text.reserve(bytes.size());
    appendUtf8Lossless(bytes, true, text);
    return text;
}

std::optional<std::string> encodeUtf8Lossless(std::u16string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c == 0)
            return std::nullopt;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            bytes.push_back(static_cast<char>(c - kEscapeBase));
            continue;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            return std::nullopt;
        }
        if (c < 0x80) {
            bytes.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            bytes.push_back(static_cast<char>(0xC0 | (c >> 6)));
            bytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            bytes.push_back(static_cast<char>(0xE0 | (c >> 12)));
            bytes.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            bytes.push_back(static_cast<char>(0xF0 | (c >> 18)));
            bytes.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return bytes;
}

std::u16string_view trimSpaces(std::u16string_view text) {
    const auto first = text.find_first_not_of(u' ');
    if (first == std::u16string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(u' ') - first + 1);
}
