#include "app/Form1.h"

#include "app/Guarded.h"
#include "assist/FilePickers.h"
#include "assist/Help.h"
#include "assist/Samples.h"
#include "copy/SaveAsMany.h"
#include "platform/FileServices.h"
#include "platform/MessageBoxes.h"
#include "platform/SkinEngine.h"
#include "platform/qt/QtPlatform.h"
#include "shared/SharedRoutines.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <climits>

namespace {

constexpr std::uint32_t kWhite = 0x00FFFFFF;
constexpr std::uint32_t kButtonFace = 0x8000000F;
constexpr std::uint32_t kButtonText = 0x80000012;

QFont arial(double points) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

// A frame as Windows draws one: the window's own background, an etched line whose top runs
// through the middle of the caption, and the caption on that line.
class Frame : public QGroupBox {
  public:
    using QGroupBox::QGroupBox;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QFontMetrics metrics(font());
        const QRect line = rect().adjusted(0, metrics.height() / 2, -2, -2);
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(line);
        painter.setPen(palette().color(QPalette::Light));
        painter.drawRect(line.translated(1, 1));
        const QRect caption(6, 0, metrics.horizontalAdvance(title()) + 4, metrics.height());
        painter.fillRect(caption, palette().color(QPalette::Window));
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(caption, Qt::AlignCenter, title());
    }
};

void setBackground(QWidget* widget, std::uint32_t colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colorFromOle(colour));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

} // namespace

Form1::Form1(PlatformServices services, std::u16string productName)
    : m_services(services), m_productName(std::move(productName)) {
    setObjectName(QStringLiteral("Form1"));
    const QScreen* screen = QGuiApplication::primaryScreen();
    m_pixelsPerTwip = (screen ? screen->logicalDotsPerInchX() : 96.0) / 1440.0;

    // Fixed single border: minimisable, not maximisable, no resizing.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(pixels(QRect(0, 0, 8040, 2880)).size());
    setBackground(this, kWhite);
    setFont(arial(9));

    addButton(this, "PushButton5", QStringLiteral("Help"), {120, 120, 3840, 405});
    addButton(this, "PushButton6", QStringLiteral("Load Sample/Example Files"),
              {4080, 120, 3840, 405});
    QGroupBox* frame2 =
        addFrame("Frame2", QStringLiteral("File To Duplicate And Save As Different Filename"),
                 {120, 600, 7800, 800});
    m_text1 = addTextBox(frame2, "Text1", {240, 300, 6600, 345});
    addButton(frame2, "PushButton1", QStringLiteral("..."), {6960, 300, 580, 345});
    QGroupBox* frame1 = addFrame(
        "Frame1", QStringLiteral("Text file with list of filenames to save above file as:"),
        {120, 1455, 7800, 800});
    m_text2 = addTextBox(frame1, "Text2", {240, 300, 6600, 345});
    addButton(frame1, "PushButton2", QStringLiteral("..."), {6960, 300, 580, 345});
    addButton(this, "PushButton3", QStringLiteral("Start Saving"), {120, 2370, 7800, 405});

    // Keyboard order: Text1, PushButton1, Text2, PushButton2, PushButton3, PushButton5,
    // PushButton6, and round again; frames take no focus.
    const auto find = [this](const char* name) { return findChild<QWidget*>(name); };
    QWidget* order[] = {m_text1,
                        find("PushButton1"),
                        m_text2,
                        find("PushButton2"),
                        find("PushButton3"),
                        find("PushButton5"),
                        find("PushButton6")};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    m_text1->setFocus();

    const auto connectClick = [&](const char* name, void (*procedure)(WindowHost&)) {
        connect(findChild<QPushButton*>(name), &QPushButton::clicked, this,
                [this, procedure] { procedure(*this); });
    };
    connectClick("PushButton1", &PushButton1_Click);
    connectClick("PushButton2", &PushButton2_Click);
    connectClick("PushButton3", [](WindowHost& window) { PushButton3_Click(window); });
    connectClick("PushButton5", &PushButton5_Click);
    connectClick("PushButton6", &PushButton6_Click);

    setMouseTracking(true);
    installEventFilter(this);
}

QRect Form1::pixels(const QRect& twips) const {
    const auto scale = [this](int value) { return qRound(value * m_pixelsPerTwip); };
    return {scale(twips.x()), scale(twips.y()), scale(twips.width()), scale(twips.height())};
}

QPushButton* Form1::addButton(QWidget* parent, const char* name, const QString& caption,
                              const QRect& twips) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(pixels(twips));
    button->setFont(arial(11.25));
    button->setAutoDefault(false);
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, colorFromOle(kWhite));
    palette.setColor(QPalette::ButtonText, colorFromOle(kButtonText));
    button->setPalette(palette);
    button->setMouseTracking(true);
    button->installEventFilter(this);
    m_buttons.append(button);
    return button;
}

QLineEdit* Form1::addTextBox(QWidget* parent, const char* name, const QRect& twips) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(pixels(twips));
    // Filled only by the browse and sample commands, yet selectable and copyable.
    box->setReadOnly(true);
    box->setMaxLength(INT_MAX);
    box->setMouseTracking(true);
    box->installEventFilter(this);
    return box;
}

QGroupBox* Form1::addFrame(const char* name, const QString& caption, const QRect& twips) {
    auto* frame = new Frame(caption, this);
    frame->setObjectName(QString::fromLatin1(name));
    frame->setGeometry(pixels(twips));
    setBackground(frame, kWhite);
    frame->setMouseTracking(true);
    frame->installEventFilter(this);
    return frame;
}

std::u16string Form1::text1() const {
    return m_text1->text().toStdU16String();
}
std::u16string Form1::text2() const {
    return m_text2->text().toStdU16String();
}
void Form1::setText1(const std::u16string& text) {
    m_text1->setText(QString::fromStdU16String(text));
}
void Form1::setText2(const std::u16string& text) {
    m_text2->setText(QString::fromStdU16String(text));
}

std::uintptr_t Form1::windowHandle() {
    return static_cast<std::uintptr_t>(winId());
}

void Form1::setMousePointer(int pointer) {
    m_pointer = pointer;
    QCursor cursor(Qt::ArrowCursor);
    if (pointer == PointerWait)
        cursor = QCursor(Qt::WaitCursor);
    else if (pointer == PointerCustom && m_hand)
        cursor = *m_hand;
    // The window's setting shows over every part of it, text boxes included.
    setCursor(cursor);
    for (QWidget* child : findChildren<QWidget*>())
        child->setCursor(cursor);
}

// Keys on the buttons, and the hover rule: the hand over a button, the arrow elsewhere, the
// hourglass left alone. A move that a control leaves unhandled reaches its container too;
// only the control under the pointer, with no child there, runs the rule.
bool Form1::eventFilter(QObject* watched, QEvent* event) {
    // Enter presses the focused button, as on Windows; no button is the default.
    if (event->type() == QEvent::KeyPress && m_buttons.contains(watched)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            static_cast<QPushButton*>(watched)->click();
            return true;
        }
    }
    if (event->type() == QEvent::MouseMove && m_pointer != PointerWait) {
        const auto* widget = static_cast<QWidget*>(watched);
        const QPoint position = static_cast<QMouseEvent*>(event)->position().toPoint();
        if (!widget->childAt(position))
            setMousePointer(m_buttons.contains(watched) ? PointerCustom : PointerDefault);
    }
    return QWidget::eventFilter(watched, event);
}

// Form_Unload: closing the window ends the program at once.
void Form1::closeEvent(QCloseEvent* event) {
    event->accept();
    QCoreApplication::exit(0);
}

void Form1::showCentred() {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    m_text1->setFocus();
}

void Form1::Form_Load() {
    const auto resource = [this](std::u16string_view suffix) {
        return m_services.files.installationFolder() + std::u16string(suffix);
    };
    bool hasPointerFile = false;
    const GuardedStep steps[] = {
        {102,
         [&] {
             applySkin();
             return kNextStep;
         },
         104},
        {104,
         [&] {
             hasPointerFile = HasFile(m_services.files, resource(u"\\HAND-M.CUR"));
             return hasPointerFile ? kNextStep : 108;
         },
         106},
        {106,
         [&] {
             loadHandPointer(resource(u"\\HAND-M.CUR"));
             return kNextStep;
         },
         108},
        {108,
         [&] {
             VisitHomePage(m_services.random, m_services.shell);
             return kNextStep;
         },
         126},
        {126,
         [&] {
             setWindowTitle(QString::fromStdU16String(std::u16string(kProductName)));
             return kNextStep;
         },
         kNextStep},
        {126,
         [&] {
             setWindowIcon(applicationIcon());
             return kNextStep;
         },
         kNextStep},
        {126,
         [&] {
             m_services.boxes.setApplicationTitle(CutApplicationTitle(m_productName));
             return kEndProcedure;
         },
         kEndProcedure},
    };
    RunGuarded(m_services.boxes, u"Form_Load", steps);
}

void Form1::applySkin() {
    const std::u16string skinFile = m_services.files.installationFolder() + u"\\x\\o.cjs";
    if (!findsOrdinaryFile(m_services.files, skinFile))
        return;
    setBackground(this, kButtonFace);
    for (QWidget* control : findChildren<QWidget*>())
        if (qobject_cast<QRadioButton*>(control) || qobject_cast<QCheckBox*>(control) ||
            qobject_cast<QGroupBox*>(control) || qobject_cast<QLabel*>(control))
            setBackground(control, kButtonFace);
    SkinEngine& skin = m_services.skin;
    skin.callMethod(SkinLoad, {skinFile, std::u16string()});
    skin.putProperty(SkinOptions, std::get<std::int32_t>(skin.getProperty(SkinOptions)) | 1);
    skin.putProperty(SkinDialogs, true);
    skin.putProperty(SkinFrameColours, true);
    skin.callMethod(SkinApplyWindow, {windowHandle()});
}

void Form1::loadHandPointer(const std::u16string& path) {
    m_hand = cursorFromFile(m_services.files.readWholeFile(path));
}
