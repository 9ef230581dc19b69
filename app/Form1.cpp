#include "app/Form1.h"

#include "app/report/Guarded.h"
#include "assist/FilePickers.h"
#include "assist/Help.h"
#include "assist/Samples.h"
#include "copy/SaveAsMany.h"
#include "platform/FileServices.h"
#include "platform/MessageBoxes.h"
#include "platform/SkinEngine.h"
#include "platform/qt/QtCommonDialog.h"
#include "platform/qt/QtPlatform.h"
#include "shared/SharedRoutines.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QWindow>
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

// The one local file a drag may drop: several files, a folder, or an address that is no local
// file are refused.
std::optional<QString> droppableFile(const QMimeData* data) {
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls[0].isLocalFile() || !QFileInfo(urls[0].toLocalFile()).isFile())
        return std::nullopt;
    // While a message box is open the window takes no input, dropped files included.
    if (QApplication::activeModalWidget())
        return std::nullopt;
    return urls[0].toLocalFile();
}

// A drop takes only the name: accepted as a copy (or a link), never as a move, which a file
// manager completes by deleting its file.
bool acceptTakingTheName(QDropEvent& event) {
    for (const Qt::DropAction action : {Qt::CopyAction, Qt::LinkAction})
        if (event.possibleActions() & action) {
            event.setDropAction(action);
            event.accept();
            return true;
        }
    event.ignore();
    return false;
}

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
    announceClassAs("Form1", QAccessible::Window);
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

    // What a screen reader says of each control: what a sighted user reads beside it.
    const struct {
        QWidget* control;
        const char* name;
        const char* description;
    } spoken[] = {
        {m_text1, "File To Duplicate And Save As Different Filename",
         "Filled by the browse button beside it, or by dropping a file on it"},
        {find("PushButton1"), "Browse for the file to duplicate",
         "Opens a dialog to choose the file"},
        {m_text2, "Text file with list of filenames to save above file as:",
         "Filled by the browse button beside it, or by dropping a file on it"},
        {find("PushButton2"), "Browse for the list of filenames",
         "Opens a dialog to choose the text file"},
        {find("PushButton3"), "Start Saving", "Copies the file to every name in the list"},
        {find("PushButton5"), "Help", "Tells whom to ask with questions"},
        {find("PushButton6"), "Load Sample/Example Files",
         "Fills both boxes with the sample files and offers to open their folder"},
    };
    for (const auto& control : spoken) {
        control.control->setAccessibleName(QString::fromUtf8(control.name));
        control.control->setAccessibleDescription(QString::fromUtf8(control.description));
    }

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
    box->setAcceptDrops(true); // a file dropped on it, as a browse button's pick
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
    if (watched == m_text1 || watched == m_text2) {
        switch (event->type()) {
        case QEvent::DragEnter: // a refused drag shows the no-drop pointer
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (!droppableFile(drag->mimeData()) || !acceptTakingTheName(*drag))
                drag->ignore();
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            if (const auto file = droppableFile(drop->mimeData());
                file && acceptTakingTheName(*drop))
                takeDroppedFile(watched == m_text1, *file);
            return true;
        }
        default:
            break;
        }
    }
    // Enter presses the focused button, as on Windows; no button is the default.
    if (event->type() == QEvent::KeyPress && m_buttons.contains(watched)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            static_cast<QPushButton*>(watched)->click();
            return true;
        }
    }
    // The first paint comes after the window manager has framed the window.
    if (watched == this && event->type() == QEvent::Paint && m_centreWhenFramed &&
        !QWidget::windowHandle()->frameMargins().isNull())
        centreFrame();
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

// The same name the browse button's dialog would give, into the box it fills.
void Form1::takeDroppedFile(bool intoText1, const QString& file) {
    if (const auto name = QtCommonDialog::windowsPathOf(file)) {
        intoText1 ? setText1(*name) : setText2(*name);
        return;
    }
    // Told once the drop has ended: a box shown inside it would hold up the drag's source.
    QMetaObject::invokeMethod(
        this, [this] { m_services.boxes.msgBox(kRefusedName, MsgBoxExclamation); },
        Qt::QueuedConnection);
}

void Form1::showCentred() {
    create();
    centreFrame();
    show();
    m_text1->setFocus();
}

// The whole window, frame included, is centred in the screen's available area. A window
// manager that frames the window only once it is shown has it centred again then.
void Form1::centreFrame() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    QWindow* window = QWidget::windowHandle();
    if (!screen || !window)
        return;
    const QMargins frame = window->frameMargins();
    m_centreWhenFramed = frame.isNull();
    const QRect area = screen->availableGeometry();
    const QSize whole = size().grownBy(frame);
    const QPoint topLeft(area.x() + (area.width() - whole.width()) / 2,
                         area.y() + (area.height() - whole.height()) / 2);
    setGeometry(QRect(topLeft, whole).marginsRemoved(frame));
}

void Form1::Form_Load() {
    const auto resource = [this](std::u16string_view suffix) {
        return m_services.files.installationFolder() + std::u16string(suffix);
    };
    bool hasPointerFile = false;
    static constexpr StepRoute kRoutes[] = {
        {102, {kNextStep}, 104},
        {104, {kNextStep, 108}, 106},
        {106, {kNextStep}, 108},
        {108, {kNextStep}, 126},
        {126, {kNextStep}, kNextStep},
        {126, {kNextStep}, kNextStep},
        {126, {kEndProcedure}, kEndProcedure},
    };
    const GuardedStep steps[] = {
        {102,
         [&] {
             applySkin();
             return kNextStep;
         }},
        {104,
         [&] {
             hasPointerFile = HasFile(m_services.files, resource(u"\\HAND-M.CUR"));
             return hasPointerFile ? kNextStep : 108;
         }},
        {106,
         [&] {
             loadHandPointer(resource(u"\\HAND-M.CUR"));
             return kNextStep;
         }},
        {108,
         [&] {
             VisitHomePage(m_services.random, m_services.shell);
             return kNextStep;
         }},
        {126,
         [&] {
             setWindowTitle(QString::fromStdU16String(std::u16string(kProductName)));
             return kNextStep;
         }},
        {126,
         [&] {
             setWindowIcon(applicationIcon());
             return kNextStep;
         }},
        {126,
         [&] {
             m_services.boxes.setApplicationTitle(CutApplicationTitle(m_productName));
             return kEndProcedure;
         }},
    };
    RunGuarded<kRoutes>(m_services.boxes, u"Form_Load", steps);
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
    m_hand = cursorFromFile(m_services.files.readFileBytes(path));
}
