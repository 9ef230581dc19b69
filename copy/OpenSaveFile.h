#pragma once

#include <string>
#include <string_view>

class FileServices;

// The whole file as wide text: empty when the file is missing, "empty file" when it has no
// bytes, raw UTF-16 LE when it starts with 0xFF or 0xFE, UTF-8 (its byte-order mark dropped)
// when it starts with that mark or is valid UTF-8, otherwise decoded from the ANSI code page.
// Read failures are passed on.
std::u16string ReadWholeFile(FileServices& files, std::u16string_view path);
