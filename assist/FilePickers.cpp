#include "assist/FilePickers.h"

#include "app/report/Guarded.h"
#include "app/report/WindowHost.h"
#include "platform/CommonDialog.h"

#include <functional>

namespace {

void browse(WindowHost& window, std::u16string_view procedure, const char16_t* title,
            const char16_t* filter, void (WindowHost::*setText)(const std::u16string&)) {
    CommonDialog& dialog = window.commonDialog();
    static constexpr StepRoute kRoutes[] = {
        {100, {kNextStep}, kNextStep},
        {102, {kNextStep}, kNextStep},
        {104, {kNextStep}, kNextStep},
        {106, {kNextStep}, kNextStep},
        {108, {kEndProcedure, kNextStep}, kNextStep},
        {110, {kEndProcedure}, kEndProcedure},
    };
    const GuardedStep steps[] = {
        {100,
         [&] {
             dialog.FileName.clear();
             return kNextStep;
         }},
        {102,
         [&] {
             dialog.DialogTitle = title;
             return kNextStep;
         }},
        {104,
         [&] {
             dialog.Filter = filter;
             return kNextStep;
         }},
        {106,
         [&] {
             dialog.ShowOpen();
             return kNextStep;
         }},
        {108, [&] { return dialog.FileName.empty() ? kEndProcedure : kNextStep; }},
        {110,
         [&] {
             (window.*setText)(dialog.FileName);
             return kEndProcedure;
         }},
    };
    RunGuarded<kRoutes>(window.messageBoxes(), procedure, steps);
}

} // namespace

void PushButton1_Click(WindowHost& window) {
    browse(window, u"PushButton1_Click", u"Select File To Copy And Rename", u"All Files (*.*)|*.*",
           &WindowHost::setText1);
}

void PushButton2_Click(WindowHost& window) {
    browse(window, u"PushButton2_Click", u"Select Text File To Use", u"Text Files (*.txt)|*.txt",
           &WindowHost::setText2);
}
