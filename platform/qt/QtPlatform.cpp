#include "platform/qt/QtPlatform.h"

#include "platform/PlatformError.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPalette>
#include <QPixmap>
#include <QWidget>
#include <cerrno>
#include <map>

QString toQString(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

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
