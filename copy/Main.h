#pragma once

#include "platform/FileServices.h"

#include <string>
#include <string_view>

// Why a list line copied nothing before any copy was tried.
enum class Skip {
    NoSource, // the source does not open as an existing file
    NoFolder, // the target's folder does not exist
    NoName,   // a bare name, an overlong one, or one Windows rules cannot carry
};

// Told what became of each list line, for a receipt; the window has none.
class OutcomeObserver : public CopyListener {
  public:
    // How many lines the run handles, once they are cut.
    virtual void lines(int count) = 0;
    virtual void blank(int index) = 0;
    // A line's name as trimmed, before it is handed on; each outcome that follows is its own.
    virtual void handing(int index, std::u16string_view name) = 0;
    virtual void skipped(Skip why) = 0;
};

// Copies the file to one target when the source opens and the target's folder exists;
// otherwise does nothing. Never reports anything, but tells an observer when there is one.
void CopyToTarget(FileServices& files, std::u16string_view source, std::u16string_view target,
                  OutcomeObserver* observer = nullptr);

// Copies one file, replacing the destination; every platform failure is absorbed, and told to
// the listener when there is one.
void CopyOneFile(FileServices& files, std::u16string_view source, std::u16string_view destination,
                 CopyListener* listener = nullptr);

// True when the path names an existing folder; false also when it cannot be queried.
bool IsFolder(FileServices& files, std::u16string_view path);

// Folds runs of "\" pairwise; a leading run always becomes exactly two.
std::u16string TidySeparators(std::u16string_view path);
