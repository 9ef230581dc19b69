#pragma once

#include <string>
#include <string_view>

class FileServices;
class RandomSource;
class Shell;

inline constexpr std::u16string_view kHomePage = u"https://quorvane.example/";

// True when the last-modified time of the path can be read; never fails.
bool HasFile(FileServices& files, std::u16string_view path);

// The path up to and including its last "\"; empty when it has none.
std::u16string FolderOf(std::u16string_view path);

// The directory search of ordinary files: true when at least one ordinary file (not a folder,
// not hidden) matches. A missing file or folder is no failure; other faults are passed on.
bool findsOrdinaryFile(FileServices& files, std::u16string_view pattern);

// Opens the home page on about one call in a hundred: when a draw from 1 to 100 is 7.
void VisitHomePage(RandomSource& random, Shell& shell);
