#include "assist/Help.h"

#include "app/report/Guarded.h"
#include "app/report/WindowHost.h"
#include "platform/MessageBoxes.h"

void PushButton5_Click(WindowHost& window) {
    static constexpr StepRoute kRoutes[] = {{100, {kEndProcedure}, kEndProcedure}};
    const GuardedStep steps[] = {
        {100,
         [&] {
             std::u16string text = u"Questions? Please contact Team Brenhaven at ";
             text += kContactPage;
             window.messageBoxes().msgBox(text, MsgBoxOkOnly);
             return kEndProcedure;
         }},
    };
    RunGuarded<kRoutes>(window.messageBoxes(), u"PushButton5_Click", steps);
}
