#include "assist/Samples.h"

#include "app/report/Guarded.h"
#include "app/report/WindowHost.h"
#include "platform/FileServices.h"
#include "platform/MessageBoxes.h"
#include "platform/Shell.h"

void PushButton6_Click(WindowHost& window) {
    FileServices& files = window.fileServices();
    int answer = MsgBoxNo;
    static constexpr StepRoute kRoutes[] = {
        {100, {kNextStep}, kNextStep},
        {102, {kNextStep}, kNextStep},
        {104, {kEndProcedure, kNextStep}, kNextStep},
        {106, {kEndProcedure}, kEndProcedure},
    };
    const GuardedStep steps[] = {
        {100,
         [&] {
             window.setText1(files.installationFolder() + u"\\Samples\\sample.txt");
             return kNextStep;
         }},
        {102,
         [&] {
             window.setText2(files.installationFolder() + u"\\Samples\\filelist.txt");
             return kNextStep;
         }},
        {104,
         [&] {
             answer = window.messageBoxes().msgBox(
                 u"Would you like this software to open the folder where these sample files "
                 u"are stored (so that you can view them before working with them)?",
                 MsgBoxYesNo | MsgBoxDefaultButton1);
             return answer == MsgBoxNo ? kEndProcedure : kNextStep;
         }},
        {106,
         [&] {
             window.shell().shellExecute(window.windowHandle(), u"",
                                         u"\"" + files.installationFolder() + u"\\Samples\\\"", u"",
                                         u"C:\\", kShowNormal);
             return kEndProcedure;
         }},
    };
    RunGuarded<kRoutes>(window.messageBoxes(), u"PushButton6_Click", steps);
}
