#pragma once

#include <optional>
#include <string>
#include <string_view>

// Wide text is UTF-16 as Windows holds it; lone surrogates are legal in it.

// Decodes UTF-8 losslessly: each byte of an invalid sequence becomes U+DC80..U+DCFF.
std::u16string decodeUtf8Lossless(std::string_view bytes);

// The same for one piece of a longer text: appends to `text` and returns how many bytes were
// used. Unless `last`, a sequence cut at the end of the piece is left for the next piece.
std::size_t appendUtf8Lossless(std::string_view bytes, bool last, std::u16string& text);

// The same where the ANSI code page is UTF-8, for bytes read from a file: a byte-order mark at
// its start (`atStart`: the bytes begin at offset 0) is no part of the text, and a piece there
// that may be the start of one waits for more. A mark anywhere else is a character.
std::size_t appendUtf8Text(std::string_view bytes, bool atStart, bool last, std::u16string& text);

// Inverse of decodeUtf8Lossless. Empty when the text holds U+0000 or a lone surrogate
// outside U+DC80..U+DCFF, which no host name can carry.
std::optional<std::string> encodeUtf8Lossless(std::u16string_view text);

// Removes U+0020 from both ends; tabs and other white space stay.
std::u16string_view trimSpaces(std::u16string_view text);

// True when the text holds a Windows wildcard, * or ?.
inline bool hasWildcard(std::u16string_view text) {
    return text.find_first_of(u"*?") != text.npos;
}

// True when a search pattern's last segment holds a wildcard and ends in a dot ("*."): it
// asks for names without an extension.
inline bool asksForNoExtension(std::u16string_view pattern) {
    const std::u16string_view last = pattern.substr(pattern.find_last_of(u"\\/") + 1);
    const std::size_t end = last.find_last_not_of(u' ');
    return hasWildcard(last) && end != last.npos && last[end] == u'.';
}

inline std::u16string toWide(std::string_view utf8) {
    return decodeUtf8Lossless(utf8);
}
