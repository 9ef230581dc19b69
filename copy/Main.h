#pragma once

#include <string>
#include <string_view>

class FileServices;

// Copies the file to one target when the source opens and the target's folder exists;
// otherwise does nothing. Never reports anything.
void CopyToTarget(FileServices& files, std::u16string_view source, std::u16string_view target);

// Copies one file, replacing the destination; every platform failure is absorbed.
void CopyOneFile(FileServices& files, std::u16string_view source, std::u16string_view destination);

// True when the path names an existing folder; false also when it cannot be queried.
bool IsFolder(FileServices& files, std::u16string_view path);

// Folds runs of "\" pairwise; a leading run always becomes exactly two.
std::u16string TidySeparators(std::u16string_view path);
