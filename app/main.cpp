#include "app/Form1.h"
#include "platform/posix/PosixFileServices.h"
#include "platform/qt/QtPlatform.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

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
        // The advice names this very program, however it was started.
        char self[4096] = "quorvane";
        const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
        if (length > 0)
            self[length] = '\0';
        std::fprintf(stderr,
                     "Quorvane is a desktop program and found no display to open its window on "
                     "(DISPLAY is not set).\nStart it from a desktop session, or on a machine "
                     "without one under a virtual display (as root, install it first with "
                     "\"apt-get update && apt-get install -y xvfb xauth\"):\n"
                     "    xvfb-run -a %s\n",
                     self);
        return 1;
    }
    QApplication app(argc, argv);
    applyDesignLook();

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
