#include "platform/qt/QtCommonDialog.h"

#include "platform/MessageBoxes.h"
#include "platform/qt/MessageDialog.h"
#include "platform/qt/QtPlatform.h"

#include <QApplication>
#include <QFileDialog>

QStringList QtCommonDialog::nameFilters(std::u16string_view filter) {
    const QStringList parts = toQString(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (QString pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            if (pattern == QLatin1String("*.*")) {
                patterns << QStringLiteral("*");
                continue;
            }
            QString anyCase;
            for (QChar c : pattern)
                anyCase += c.isLetter() ? QStringLiteral("[%1%2]").arg(c.toLower(), c.toUpper())
                                        : QString(c);
            patterns << anyCase;
        }
        // The visible text stays the description; Qt reads the last parentheses.
        filters << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')');
    }
    return filters;
}

void QtCommonDialog::ShowOpen() {
    QFileDialog dialog(QApplication::activeWindow(), toQString(DialogTitle));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(nameFilters(Filter));
    dialog.selectFile(toQString(FileName));
    FileName.clear();
    // A name Windows rules cannot carry would come back naming another file, or a wildcard.
    while (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        if (const auto path = windowsPathOf(dialog.selectedFiles().constFirst())) {
            FileName = *path;
            return;
        }
        MessageDialog(&dialog, toQString(kRefusedName), MsgBoxExclamation, dialog.windowTitle())
            .exec();
    }
}
