#include "assist/Help.h"

#include "app/report/Guarded.h"
#include "app/report/WindowHost.h"
#include "platform/MessageBoxes.h"

void PushButton5_Click(WindowHost& window) {
    const GuardedStep steps[] = {
        {100,
         [&] {
             std::u16string text = u"Questions? Please contact Team Brenhaven at ";
             text += kContactPage;
             window.messageBoxes().msgBox(text, MsgBoxOkOnly);
             return kEndProcedure;
         },
         kEndProcedure},
    };
    RunGuarded(window.messageBoxes(), u"PushButton5_Click", steps);
}
