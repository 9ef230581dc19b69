#include "app/Form1.h"
#include "platform/posix/PosixFileServices.h"
#include "platform/qt/QtPlatform.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

namespace {

bool hasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* value = std::getenv(name); value && *value)
            return true;
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (!hasDisplay()) {
        std::fputs("Quorvane is a desktop program and found no display to open its window on "
                   "(DISPLAY is not set).\nStart it from a desktop session, or on a machine "
                   "without one under a virtual display: xvfb-run quorvane\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));

    PosixFileServices files;
    QtMessageBoxes boxes(u"quorvane");
    QtCommonDialog dialog;
    DesktopShell shell;
    ClockRandom random;
    StyleSheetSkin skin;
    Form1 form({files, boxes, dialog, shell, random, skin});
    form.Form_Load();
    form.showCentred();
    return QApplication::exec();
}
