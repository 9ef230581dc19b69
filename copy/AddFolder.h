#pragma once

#include <string_view>

class FileServices;

// True when the path opens as an existing file that is not a folder; nothing is read.
// A path with wildcards exists when its directory search finds an ordinary file.
bool IsExistingFile(FileServices& files, std::u16string_view path);
