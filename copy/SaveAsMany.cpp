#include "copy/SaveAsMany.h"

#include "app/report/Guarded.h"
#include "base/Text.h"
#include "copy/Main.h"
#include "copy/OpenSaveFile.h"
#include "platform/FileServices.h"
#include "platform/MessageBoxes.h"
#include "platform/PlatformError.h"
#include "shared/SharedRoutines.h"

#include <cerrno>
#include <vector>

namespace {

// The line index is a 16-bit signed counter.
constexpr int kLastLineIndex = 32767;

PlatformError overflow() {
    return PlatformError(u"Overflow", EOVERFLOW);
}

// Cuts at every line feed; an empty text has no lines, a final line feed an empty last line.
// Lines past the first one the line index cannot reach are never used, so they are not cut.
std::vector<std::u16string_view> cutLines(std::u16string_view text) {
    std::vector<std::u16string_view> lines;
    if (text.empty())
        return lines;
    for (std::size_t start = 0; lines.size() <= kLastLineIndex + 1u;) {
        const std::size_t end = text.find(u'\n', start);
        lines.push_back(text.substr(start, end == text.npos ? text.npos : end - start));
        if (end == text.npos)
            return lines;
        start = end + 1;
    }
    return lines;
}

} // namespace

void PushButton3_Click(CommandHost& host) {
    FileServices& files = host.fileServices();
    MessageBoxes& boxes = host.messageBoxes();
    OutcomeObserver* const observer = host.outcomeObserver();
    std::u16string listText;
    std::vector<std::u16string_view> lines;
    int index = 0;
    int lastIndex = -1;
    std::u16string_view targetName;
    std::u16string mappedName;
    const auto notice = [&boxes](std::u16string_view text) {
        boxes.msgBox(text, MsgBoxOkOnly);
        return 160;
    };
    const auto missing = [&](MissingInput which, std::u16string_view text) {
        if (observer)
            observer->inputMissing(which);
        return notice(text);
    };

    static constexpr StepRoute kRoutes[] = {
        {100, {kEndProcedure, kNextStep}, 102},
        {102, {kNextStep}, 104},
        {104, {158, kNextStep}, 106},
        {106, {156, kNextStep}, 108},
        {108, {kNextStep, 154}, 110},
        {110, {kNextStep, 152}, 112},
        {112, {kNextStep}, 132},
        {132, {kNextStep}, 134},
        {134, {kNextStep}, 136},
        {136, {kNextStep}, 138},
        {138, {148, kNextStep}, 148},
        {140, {kNextStep, 146}, 142},
        {142, {148, kNextStep}, 144},
        {144, {kNextStep}, 146},
        {146, {140, kNextStep}, 148},
        {148, {kNextStep}, 150},
        {150, {160}, 160},
        {152, {160}, 160},
        {154, {160}, 160},
        {156, {160}, 160},
        {158, {160}, 160},
        {160, {kEndProcedure}, kEndProcedure},
    };
    const GuardedStep steps[] = {
        {100, [&] { return host.busy() ? kEndProcedure : kNextStep; }},
        {102,
         [&] {
             host.setBusy(true);
             return kNextStep;
         }},
        {104, [&] { return trimSpaces(host.text1()).empty() ? 158 : kNextStep; }},
        {106, [&] { return trimSpaces(host.text2()).empty() ? 156 : kNextStep; }},
        {108, [&] { return findsOrdinaryFile(files, host.text1()) ? kNextStep : 154; }},
        {110, [&] { return findsOrdinaryFile(files, host.text2()) ? kNextStep : 152; }},
        {112,
         [&] {
             host.setMousePointer(PointerWait);
             return kNextStep;
         }},
        {132,
         [&] {
             listText = ReadWholeFile(files, host.text2());
             return kNextStep;
         }},
        {134,
         [&] {
             std::erase(listText, u'\r');
             return kNextStep;
         }},
        {136,
         [&] {
             lines = cutLines(listText);
             return kNextStep;
         }},
        {138,
         [&] {
             if (lines.size() > kLastLineIndex + 1u)
                 throw overflow();
             lastIndex = static_cast<int>(lines.size()) - 1;
             index = 0;
             if (observer)
                 observer->lines(lastIndex + 1);
             PlanCopies(files, host.text1(), lines);
             return index > lastIndex ? 148 : kNextStep;
         }},
        {140,
         [&] {
             if (!trimSpaces(lines[index]).empty())
                 return kNextStep;
             if (observer)
                 observer->blank(index);
             return 146;
         }},
        {142,
         [&] {
             targetName = trimSpaces(lines[index]);
             if (observer && !observer->handing(index, targetName))
                 return 148;
             // A host's own path, such as a Linux user writes, reaches the copy in Windows form.
             if (std::optional<std::u16string> mapped = files.mapNativeName(targetName)) {
                 mappedName = std::move(*mapped);
                 targetName = mappedName;
             }
             return kNextStep;
         }},
        {144,
         [&] {
             CopyToTarget(files, host.text1(), targetName, observer);
             return kNextStep;
         }},
        {146,
         [&] {
             if (index == kLastLineIndex)
                 throw overflow();
             ++index;
             return index <= lastIndex ? 140 : kNextStep;
         }},
        {148,
         [&] {
             // "Done." means on disk: a flush that fails is this step's failure, reported with
             // the pointer restored; the run still ends with its message.
             try {
                 files.makeDurable();
             } catch (const PlatformError& failure) {
                 host.setMousePointer(PointerDefault);
                 if (observer)
                     observer->notDurable(failure);
                 throw;
             }
             host.setMousePointer(PointerDefault);
             return kNextStep;
         }},
        {150, [&] { return !observer || observer->ended() ? notice(u"Done.") : 160; }},
        {152, [&] { return missing(MissingInput::ListNotFound, u"Text file to use not found."); }},
        {154,
         [&] {
             return missing(MissingInput::FileNotFound, u"File to copy and rename not found.");
         }},
        {156,
         [&] { return missing(MissingInput::NoList, u"You forgot to input text file to use."); }},
        {158,
         [&] {
             return missing(MissingInput::NoFile, u"You forgot to input file to copy and rename.");
         }},
        {160,
         [&] {
             host.setBusy(false);
             return kEndProcedure;
         }},
    };
    RunGuarded<kRoutes>(boxes, u"PushButton3_Click", steps,
                        [observer](int line, std::u16string_view text) {
                            if (observer)
                                observer->errorReported(line, text);
                        });
}
