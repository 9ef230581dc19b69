#pragma once

#include "platform/FileServices.h"

#include <string>
#include <string_view>
#include <vector>

// Why a list line copied nothing before any copy was tried.
enum class Skip {
    NoSource, // the source does not open as an existing file
    NoFolder, // the target's folder does not exist
    // The target's folder cannot be reached (no access, a name too long): it may well exist.
    FolderUnreachable,
    NoName, // a bare name, an overlong one, or one Windows rules cannot carry
};

// Which input stopped a run before it began, one for each of the four messages.
enum class MissingInput {
    NoFile,       // the file box is blank
    NoList,       // the list box is blank
    FileNotFound, // the file to copy is not found
    ListNotFound, // the list file is not found
};

// Told what becomes of a run and of each list line, for a receipt; the window has none.
class OutcomeObserver : public CopyListener {
  public:
    virtual void inputMissing(MissingInput which) = 0;
    // A failure at a numbered step, told before its report is shown.
    virtual void errorReported(int line, std::u16string_view description) = 0;
    // How many lines the run handles, once they are cut.
    virtual void lines(int count) = 0;
    virtual void blank(int index) = 0;
    // A line's name as trimmed, before it is handed on; each outcome that follows is its own.
    // False when the line and every later one must not be copied (the run's record failed).
    virtual bool handing(int index, std::u16string_view name) = 0;
    // `detail` is the system's text where there is one (an unreachable folder), else empty.
    virtual void skipped(Skip why, std::u16string_view detail) = 0;
    // What the run wrote could not be made durable (the system's write-back failed).
    virtual void notDurable(const PlatformError& failure) = 0;
    // The run is over. False when "Done." would claim work that was not done (nothing written,
    // or a run stopped early), so that it is not said.
    virtual bool ended() = 0;
};

// Copies the file to one target when the source opens and the target's folder exists;
// otherwise does nothing. Never reports anything, but tells an observer when there is one.
void CopyToTarget(FileServices& files, std::u16string_view source, std::u16string_view target,
                  OutcomeObserver* observer = nullptr);

// Tells the file services what each list line will copy, so that the host may write ahead.
// `lines` must outlive the run (until makeDurable).
void PlanCopies(FileServices& files, std::u16string_view source,
                const std::vector<std::u16string_view>& lines);

// Copies one file, replacing the destination; every platform failure is absorbed, and told to
// the listener when there is one.
void CopyOneFile(FileServices& files, std::u16string_view source, std::u16string_view destination,
                 CopyListener* listener = nullptr);

// True when the path names an existing folder; false also when it cannot be queried. Why a
// folder that may exist could not be reached (any failure but a missing path) is kept in
// `unreachable` when given.
bool IsFolder(FileServices& files, std::u16string_view path, std::u16string* unreachable = nullptr);

// Folds runs of "\" pairwise; a leading run always becomes exactly two.
std::u16string TidySeparators(std::u16string_view path);
