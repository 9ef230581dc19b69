#include "platform/qt/QtPlatform.h"

#include "base/Text.h"
#include "platform/PlatformError.h"
#include "platform/qt/MessageDialog.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImage>
#include <QPalette>
#include <QPixmap>
#include <QProcess>
#include <QStyle>
#include <QWidget>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>

namespace {

QString toQString(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

PlatformError unsupportedMember(int member) {
    return PlatformError(u"Member " + QString::number(member).toStdU16String() + u" not found",
                         EINVAL);
}

} // namespace

void applyDesignLook() {
    QApplication::setStyle(QStringLiteral("Fusion"));
    // Spelled out: the style's own standard palette follows a desktop theme (dark ones too).
    const QColor face(239, 239, 239), dark = face.darker(150), disabled(190, 190, 190);
    QPalette light(Qt::black, face, face.lighter(150), dark, face.darker(130), Qt::black,
                   Qt::white);
    light.setColor(QPalette::Shadow, dark.darker(135));
    light.setColor(QPalette::Highlight, QColor(48, 140, 198));
    light.setColor(QPalette::HighlightedText, Qt::white);
    light.setColor(QPalette::Link, QColor(0, 0, 255));
    light.setColor(QPalette::PlaceholderText, QColor(0, 0, 0, 128));
    light.setColor(QPalette::ToolTipBase, QColor(255, 255, 220));
    light.setColor(QPalette::ToolTipText, Qt::black);
    for (const auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        light.setColor(QPalette::Disabled, role, disabled);
    light.setColor(QPalette::Disabled, QPalette::Base, face);
    QApplication::setPalette(light);
#ifndef Q_OS_WIN
    // Never whatever "sans-serif" resolves to (after our install, often a monospace face).
    QApplication::setFont(QFont(QStringLiteral("Liberation Sans"), 9));
#endif
    // Also for a box shown before the window has one.
    QApplication::setWindowIcon(applicationIcon());
}

QColor colorFromOle(std::uint32_t colour) {
    if ((colour & 0xFF000000u) == 0x80000000u) {
        const QPalette palette = QGuiApplication::palette();
        switch (colour & 0xFF) {
        case 0x05:
            return palette.color(QPalette::Base);
        case 0x08:
            return palette.color(QPalette::Text);
        case 0x0F:
            return palette.color(QPalette::Button);
        case 0x12:
            return palette.color(QPalette::ButtonText);
        default:
            return palette.color(QPalette::Window);
        }
    }
    return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

void announceClassAs(const char* className, QAccessible::Role role) {
    static std::map<QString, QAccessible::Role> roles;
    if (roles.empty())
        QAccessible::installFactory(
            [](const QString& name, QObject* object) -> QAccessibleInterface* {
                const auto found = roles.find(name);
                return found != roles.end() && object->isWidgetType()
                           ? new QAccessibleWidget(static_cast<QWidget*>(object), found->second)
                           : nullptr;
            });
    roles[QString::fromLatin1(className)] = role;
}

QIcon applicationIcon() {
    return QIcon(QStringLiteral(":/quorvane.ico"));
}

QCursor cursorFromFile(const std::string& bytes) {
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const auto word = [&](std::size_t i) { return byteAt(i) | byteAt(i + 1) << 8; };
    // ICONDIR, type 2 for cursors and 1 for icons, and its first entry. A cursor's entry holds
    // the hot spot where an icon's holds planes and bit count.
    if (bytes.size() < 22 || word(0) != 0 || (word(2) != 1 && word(2) != 2) || word(4) == 0)
        throw PlatformError(u"Invalid picture", EINVAL);
    const bool cursor = word(2) == 2;
    std::string asIcon = bytes;
    asIcon[2] = 1; // the same layout as an icon, which Qt's reader knows
    const QImage image = QImage::fromData(reinterpret_cast<const uchar*>(asIcon.data()),
                                          static_cast<int>(asIcon.size()), "ICO");
    if (image.isNull())
        throw PlatformError(u"Invalid picture", EINVAL);
    const QPoint hotSpot =
        cursor ? QPoint(word(10), word(12)) : QPoint(image.width() / 2, image.height() / 2);
    return QCursor(QPixmap::fromImage(image), hotSpot.x(), hotSpot.y());
}

std::unique_ptr<MessageDialog> QtMessageBoxes::create(std::u16string_view prompt, int style,
                                                      std::u16string_view title) const {
    // Line breaks in the text are CR LF or a bare CR; Qt breaks at LF.
    QString text = toQString(prompt);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return std::make_unique<MessageDialog>(
        QApplication::activeWindow(), text, style,
        toQString(title.empty() ? std::u16string_view(m_title) : title));
}

int QtMessageBoxes::msgBox(std::u16string_view prompt, int style, std::u16string_view title) {
    const std::unique_ptr<MessageDialog> box = create(prompt, style, title);
    box->exec();
    return box->answer();
}

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

void ClockRandom::randomize() {
    m_generator.seed(
        static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()));
}

double ClockRandom::rnd() {
    return std::uniform_real_distribution<double>(0.0, 1.0)(m_generator);
}

DispValue StyleSheetSkin::getProperty(int member) {
    switch (member) {
    case SkinOptions:
        return m_options;
    case SkinDialogs:
        return m_dialogs;
    case SkinFrameColours:
        return m_frameColours;
    default:
        throw unsupportedMember(member);
    }
}

void StyleSheetSkin::putProperty(int member, const DispValue& value) {
    switch (member) {
    case SkinOptions:
        m_options = std::get<std::int32_t>(value);
        break;
    case SkinDialogs:
        m_dialogs = std::get<bool>(value);
        break;
    case SkinFrameColours:
        m_frameColours = std::get<bool>(value);
        break;
    default:
        throw unsupportedMember(member);
    }
}

namespace {

// Qt has no style-sheet validator; what it warns of while a hidden widget takes the sheet is
// the only word on whether it parsed. For as long as it lives, Qt's messages of this thread
// are kept from the user and a parse failure among them noted; those of other threads go on to
// the handler it replaced.
class SheetParseWatch {
  public:
    SheetParseWatch() : m_previous(qInstallMessageHandler(&note)) {
        s_previous = m_previous;
        t_watching = true;
        t_failed = false;
    }
    ~SheetParseWatch() {
        t_watching = false;
        qInstallMessageHandler(m_previous);
    }
    SheetParseWatch(const SheetParseWatch&) = delete;
    SheetParseWatch& operator=(const SheetParseWatch&) = delete;
    bool failed() const { return t_failed; }

  private:
    static void note(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (t_watching) {
            if (message.contains(QLatin1String("Could not parse")))
                t_failed = true;
        } else if (const QtMessageHandler previous = s_previous) {
            previous(type, context, message);
        }
    }

    static inline thread_local bool t_watching = false;
    static inline thread_local bool t_failed = false;
    static inline std::atomic<QtMessageHandler> s_previous = nullptr;
    QtMessageHandler m_previous;
};

bool styleSheetParses(const QString& sheet) {
    const SheetParseWatch watch;
    QWidget trial;
    trial.setStyleSheet(sheet);
    trial.ensurePolished();
    return !watch.failed();
}

} // namespace

void StyleSheetSkin::callMethod(int member, const std::vector<DispValue>& arguments) {
    if (member == SkinLoad && !arguments.empty()) {
        QFile file(hostFileName(std::get<std::u16string>(arguments[0])));
        if (!file.open(QIODevice::ReadOnly))
            throw PlatformError(u"The skin file cannot be read", EIO);
        const QString sheet = QString::fromUtf8(file.readAll());
        if (!styleSheetParses(sheet))
            throw PlatformError(u"The skin file is not a style sheet", EINVAL);
        m_sheet = sheet;
        return;
    }
    if (member == SkinApplyWindow && !arguments.empty()) {
        QWidget* window = QWidget::find(static_cast<WId>(std::get<std::uintptr_t>(arguments[0])));
        if (!window)
            throw PlatformError(u"Invalid window handle", EINVAL);
        if (m_options & 1)
            window->setStyleSheet(m_sheet);
        if (m_dialogs)
            qApp->setStyleSheet(m_sheet);
        return;
    }
    throw unsupportedMember(member);
}
