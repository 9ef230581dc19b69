#include "app/Form1.h"
#include "platform/FileServices.h"
#include "platform/Host.h"
#include "platform/qt/ClockRandom.h"
#include "platform/qt/DesktopShell.h"
#include "platform/qt/QtCommonDialog.h"
#include "platform/qt/QtMessageBoxes.h"
#include "platform/qt/QtPlatform.h"
#include "platform/qt/StyleSheetSkin.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    if (const std::string advice = missingDisplayAdvice(); !advice.empty()) {
        std::fputs(advice.c_str(), stderr);
        return 1;
    }
    // The program takes no arguments, and Qt none of its own options (-reverse, -style...).
    char name[] = "quorvane";
    int qtArgc = 1;
    char* qtArgv[] = {argc > 0 && argv[0] ? argv[0] : name, nullptr};
    QApplication app(qtArgc, qtArgv);
    applyDesignLook();

    const std::unique_ptr<FileServices> files = hostFileServices();
    QtMessageBoxes boxes(u"quorvane");
    QtCommonDialog dialog;
    DesktopShell shell;
    ClockRandom random;
    StyleSheetSkin skin;
    Form1 form({*files, boxes, dialog, shell, random, skin});
    form.Form_Load();
    form.showCentred();
    return QApplication::exec();
}
