#include "platform/qt/StyleSheetSkin.h"

#include "platform/PlatformError.h"
#include "platform/qt/QtPlatform.h"

#include <QApplication>
#include <QFile>
#include <QWidget>
#include <atomic>
#include <cerrno>

namespace {

PlatformError unsupportedMember(int member) {
    return PlatformError(u"Member " + QString::number(member).toStdU16String() + u" not found",
                         EINVAL);
}

} // namespace

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
