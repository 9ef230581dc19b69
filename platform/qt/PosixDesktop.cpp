// The Qt platform's pieces that differ by host: here a POSIX desktop.
#include "base/Text.h"
#include "platform/PlatformError.h"
#include "platform/posix/WindowsPath.h"
#include "platform/qt/DesktopShell.h"
#include "platform/qt/QtCommonDialog.h"
#include "platform/qt/QtPlatform.h"

#include <QFile>
#include <QProcess>
#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace {

void startDetached(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (!process.startDetached())
        throw PlatformError(u"File not found: " + program.toStdU16String(), ENOENT);
}

} // namespace

std::string missingDisplayAdvice() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* value = std::getenv(name); value && *value)
            return {};
    // The advice names this very program, however it was started.
    char self[4096] = "quorvane";
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0)
        self[length] = '\0';
    return std::string("Quorvane is a desktop program and found no display to open its window on "
                       "(DISPLAY is not set).\nStart it from a desktop session, or on a machine "
                       "without one under a virtual display (as root, install it first with "
                       "\"apt-get update && apt-get install -y xvfb xauth\"):\n    xvfb-run -a ") +
           self + "\n";
}

QString hostFileName(std::u16string_view windowsPath) {
    return QFile::decodeName(toHostPath(windowsPath).c_str());
}

std::optional<std::u16string> QtCommonDialog::windowsPathOf(const QString& picked) {
    return nativeToWindows(decodeUtf8Lossless(QFile::encodeName(picked).toStdString()));
}

void DesktopShell::shellExecute(std::uintptr_t, std::u16string_view, std::u16string_view file,
                                std::u16string_view, std::u16string_view, int) {
    std::u16string path(file);
    if (path.size() >= 2 && path.front() == u'"' && path.back() == u'"')
        path = path.substr(1, path.size() - 2);
    // The shell's result is not examined: a path with no host form opens nothing.
    try {
        startDetached(QStringLiteral("xdg-open"), {hostFileName(path)});
    } catch (const PlatformError&) {
    }
}

void DesktopShell::launch(std::u16string_view commandLine, int) {
    QStringList words = splitCommandLine(commandLine);
    if (words.isEmpty())
        throw PlatformError(u"File not found", ENOENT);
    QString program = words.takeFirst();
    // "explorer" stands for the desktop's opener.
    if (program.compare(QLatin1String("explorer"), Qt::CaseInsensitive) == 0)
        program = QStringLiteral("xdg-open");
    startDetached(program, words);
}
