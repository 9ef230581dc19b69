#include "platform/qt/DesktopShell.h"

#include "platform/qt/QtPlatform.h"

QStringList DesktopShell::splitCommandLine(std::u16string_view commandLine) {
    QStringList words;
    QString word;
    bool quoted = false, any = false;
    for (QChar c : toQString(commandLine)) {
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            any = true;
        } else if (c == QLatin1Char(' ') && !quoted) {
            if (any)
                words << word;
            word.clear();
            any = false;
        } else {
            word += c;
            any = true;
        }
    }
    if (any)
        words << word;
    return words;
}
