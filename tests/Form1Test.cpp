#include "app/Form1.h"
#include "app/report/ErrorReport.h"
#include "platform/PlatformError.h"
#include "platform/RandomSource.h"
#include "platform/qt/DesktopShell.h"
#include "platform/qt/MessageDialog.h"
#include "platform/qt/QtCommonDialog.h"
#include "platform/qt/QtMessageBoxes.h"
#include "platform/qt/QtPlatform.h"
#include "platform/qt/StyleSheetSkin.h"
#include "tests/TestSupport.h"

#include <QAccessible>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>
#include <climits>

namespace fs = std::filesystem;

namespace {

// A shipped resource; from a copy when the tests run where the sources cannot be read.
fs::path resource(const std::string& name) {
    const char* copy = std::getenv("QUORVANE_TEST_RESOURCES");
    return fs::path(copy ? copy : QUORVANE_RESOURCES).concat(name);
}

class FakeDialog : public CommonDialog {
  public:
    void ShowOpen() override {
        seen.push_back({FileName, DialogTitle, Filter});
        if (fail)
            throw PlatformError(u"dialog failed");
        FileName = answer;
    }
    struct Seen {
        std::u16string fileName, title, filter;
    };
    std::vector<Seen> seen;
    std::u16string answer;
    bool fail = false;
};

class FakeShell : public Shell {
  public:
    void shellExecute(std::uintptr_t owner, std::u16string_view operation, std::u16string_view file,
                      std::u16string_view parameters, std::u16string_view directory,
                      int show) override {
        opened.push_back({owner, std::u16string(operation), std::u16string(file),
                          std::u16string(parameters), std::u16string(directory), show});
    }
    void launch(std::u16string_view commandLine, int style) override {
        launched.push_back({std::u16string(commandLine), style});
        if (fail)
            throw PlatformError(u"cannot start");
    }
    struct Opened {
        std::uintptr_t owner;
        std::u16string operation, file, parameters, directory;
        int show;
    };
    std::vector<Opened> opened;
    std::vector<std::pair<std::u16string, int>> launched;
    bool fail = false;
};

class FakeRandom : public RandomSource {
  public:
    void randomize() override { ++seeded; }
    double rnd() override { return value; }
    int seeded = 0;
    double value = 0.5;
};

// Records every member call of the skin engine, in order.
class RecordingSkin : public SkinEngine {
  public:
    DispValue getProperty(int member) override {
        calls << QStringLiteral("get %1").arg(member);
        return std::int32_t{6};
    }
    void putProperty(int member, const DispValue& value) override {
        calls << QStringLiteral("put %1 %2").arg(member).arg(describe(value));
    }
    void callMethod(int member, const std::vector<DispValue>& arguments) override {
        QStringList parts;
        for (const DispValue& argument : arguments)
            parts << describe(argument);
        calls << QStringLiteral("call %1 (%2)").arg(member).arg(parts.join(QStringLiteral(", ")));
        if (failOn == member)
            throw PlatformError(u"skin refused");
    }
    static QString describe(const DispValue& value) {
        if (auto* text = std::get_if<std::u16string>(&value))
            return QLatin1Char('"') + QString::fromStdU16String(*text) + QLatin1Char('"');
        if (auto* flag = std::get_if<bool>(&value))
            return *flag ? QStringLiteral("true") : QStringLiteral("false");
        if (std::holds_alternative<std::uintptr_t>(value))
            return QStringLiteral("handle");
        return QString::number(std::get<std::int32_t>(value));
    }
    QStringList calls;
    int failOn = 0;
};

} // namespace

class Form1Test : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempDir> m_install;
    std::unique_ptr<FaultyFileServices> m_files;
    std::unique_ptr<RecordingBoxes> m_boxes;
    std::unique_ptr<FakeDialog> m_dialog;
    std::unique_ptr<FakeShell> m_shell;
    std::unique_ptr<FakeRandom> m_random;
    std::unique_ptr<RecordingSkin> m_skin;
    std::unique_ptr<Form1> m_form;

    Form1& form(std::u16string product = std::u16string(kProductName)) {
        m_form = std::make_unique<Form1>(
            PlatformServices{*m_files, *m_boxes, *m_dialog, *m_shell, *m_random, *m_skin},
            std::move(product));
        return *m_form;
    }
    template <typename T = QWidget> T* control(const char* name) {
        T* widget = m_form->objectName() == QLatin1String(name)
                        ? qobject_cast<T*>(m_form.get())
                        : m_form->findChild<T*>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no control %s", name);
        return widget;
    }
    void click(const char* name) { QTest::mouseClick(control<QPushButton>(name), Qt::LeftButton); }
    void moveOver(QWidget* widget) {
        QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(widget, &move);
    }
    QColor background(const char* name) { return control(name)->palette().color(QPalette::Window); }
    void install(const std::string& resource, std::string_view bytes) {
        fs::create_directories((m_install->path() / resource).parent_path());
        writeFile(m_install->path() / resource, bytes);
    }

  private slots:
    // As the program starts: the boxes' font is then Liberation Sans, whatever "sans-serif" is.
    void initTestCase() { applyDesignLook(); }
    void init() {
        m_install = std::make_unique<TempDir>();
        m_files = std::make_unique<FaultyFileServices>();
        m_files->installationFolderOverride = win(m_install->path());
        m_boxes = std::make_unique<RecordingBoxes>();
        m_dialog = std::make_unique<FakeDialog>();
        m_shell = std::make_unique<FakeShell>();
        m_random = std::make_unique<FakeRandom>();
        m_skin = std::make_unique<RecordingSkin>();
    }
    void cleanup() { m_form.reset(); }

    void layout_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<QString>("caption");
        QTest::newRow("PushButton5") << "PushButton5" << QRect(120, 120, 3840, 405) << "Help";
        QTest::newRow("PushButton6")
            << "PushButton6" << QRect(4080, 120, 3840, 405) << "Load Sample/Example Files";
        QTest::newRow("Frame2") << "Frame2" << QRect(120, 600, 7800, 800)
                                << "File To Duplicate And Save As Different Filename";
        QTest::newRow("Text1") << "Text1" << QRect(240, 300, 6600, 345) << "";
        QTest::newRow("PushButton1") << "PushButton1" << QRect(6960, 300, 580, 345) << "...";
        QTest::newRow("Frame1") << "Frame1" << QRect(120, 1455, 7800, 800)
                                << "Text file with list of filenames to save above file as:";
        QTest::newRow("Text2") << "Text2" << QRect(240, 300, 6600, 345) << "";
        QTest::newRow("PushButton2") << "PushButton2" << QRect(6960, 300, 580, 345) << "...";
        QTest::newRow("PushButton3")
            << "PushButton3" << QRect(120, 2370, 7800, 405) << "Start Saving";
    }
    void layout() {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        QFETCH(QString, caption);
        form();
        const double perTwip = QGuiApplication::primaryScreen()->logicalDotsPerInchX() / 1440.0;
        const auto px = [&](int value) { return qRound(value * perTwip); };
        QWidget* widget = control(name.toLatin1().constData());
        QCOMPARE(widget->geometry(),
                 QRect(px(twips.x()), px(twips.y()), px(twips.width()), px(twips.height())));
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            QCOMPARE(button->text(), caption);
            QCOMPARE(button->font().pointSizeF(), 11.25);
            QVERIFY(button->font().bold());
            QCOMPARE(button->palette().color(QPalette::Button), QColor(Qt::white));
            QVERIFY(!button->autoDefault() && !button->isDefault());
        } else if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
            QCOMPARE(frame->title(), caption);
            QCOMPARE(frame->focusPolicy(), Qt::NoFocus);
        } else {
            QCOMPARE(widget->font().family(), QStringLiteral("Arial"));
            QCOMPARE(widget->font().pointSizeF(), 9.0);
            QVERIFY(widget->font().bold());
        }
    }

    void window() {
        Form1& window = form();
        QCOMPARE(
            window.size(),
            QSize(qRound(8040 * QGuiApplication::primaryScreen()->logicalDotsPerInchX() / 1440.0),
                  qRound(2880 * QGuiApplication::primaryScreen()->logicalDotsPerInchX() / 1440.0)));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QVERIFY(window.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(background("Form1"), QColor(Qt::white));
        for (const char* name : {"Text1", "Text2"}) {
            auto* box = control<QLineEdit>(name);
            QVERIFY(box->isReadOnly());
            QCOMPARE(box->maxLength(), INT_MAX);
        }
    }

    void keyboard() {
        Form1& window = form();
        window.showCentred();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(QApplication::focusWidget(), control("Text1"));
        QStringList order;
        for (int i = 0; i < 7; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order, QStringList({"PushButton1", "Text2", "PushButton2", "PushButton3",
                                     "PushButton5", "PushButton6", "Text1"}));
        // Typing changes nothing; Enter and Esc start no command.
        QTest::keyClicks(control("Text1"), "typed");
        QTest::keyClick(control("Text1"), Qt::Key_Return);
        QTest::keyClick(control("Text1"), Qt::Key_Enter);
        QTest::keyClick(control("Text1"), Qt::Key_Escape);
        QCOMPARE(control<QLineEdit>("Text1")->text(), QString());
        QVERIFY(m_boxes->shown.empty());
        QVERIFY(window.isVisible());
        // Enter on a focused button presses it, as on Windows.
        control("PushButton5")->setFocus();
        QTest::keyClick(control("PushButton5"), Qt::Key_Return);
        QTest::keyClick(control("PushButton5"), Qt::Key_Enter);
        QCOMPARE(m_boxes->shown.size(), 2u);
    }

    // The whole window, frame included, in the middle of the screen's available area.
    void shownCentred() {
        Form1& window = form();
        window.showCentred();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QRect frame = window.frameGeometry();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(frame.height() > window.height());
        QCOMPARE(frame.topLeft(),
                 screen.topLeft() + QPoint((screen.width() - frame.width()) / 2,
                                           (screen.height() - frame.height()) / 2));
    }

    void hover() {
        Form1& window = form();
        for (const char* button :
             {"PushButton1", "PushButton2", "PushButton3", "PushButton5", "PushButton6"}) {
            moveOver(control(button));
            QCOMPARE(window.mousePointer(), int(PointerCustom));
        }
        for (const char* other : {"Frame1", "Frame2", "Text1", "Text2", "Form1"}) {
            moveOver(control("PushButton1"));
            moveOver(control(other));
            QCOMPARE(window.mousePointer(), int(PointerDefault));
        }
        // Without HAND-M.CUR the custom pointer is the ordinary arrow.
        moveOver(control("PushButton3"));
        QCOMPARE(control("PushButton3")->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(m_boxes->shown.empty());
    }

    void hourglassStaysDuringARun() {
        Form1& window = form();
        writeFile(m_install->path() / "source.txt", "payload");
        writeFile(m_install->path() / "list.txt", narrow(win(m_install->path() / "copy.txt")));
        window.setText1(win(m_install->path() / "source.txt"));
        window.setText2(win(m_install->path() / "list.txt"));
        std::vector<int> during;
        m_files->onCall = [&](const std::string& call) {
            if (call != "copyFile")
                return;
            moveOver(control("PushButton6"));
            moveOver(control("Frame1"));
            during.push_back(window.mousePointer());
            during.push_back(control("PushButton6")->cursor().shape());
        };
        click("PushButton3");
        QCOMPARE(during, std::vector<int>({PointerWait, Qt::WaitCursor}));
        QCOMPARE(readFile(m_install->path() / "copy.txt"), std::string("payload"));
        QCOMPARE(m_boxes->shown.back().prompt, std::u16string(u"Done."));
        QCOMPARE(window.mousePointer(), int(PointerDefault));
        QVERIFY(!window.busy());
    }

    void pickers() {
        Form1& window = form();
        window.setText1(u"old one");
        window.setText2(u"old two");
        m_dialog->FileName = u"left over";
        m_dialog->answer = u"Z:\\tmp\\chosen file.bin";
        click("PushButton1");
        QCOMPARE(window.text1(), std::u16string(u"Z:\\tmp\\chosen file.bin"));
        QCOMPARE(window.text2(), std::u16string(u"old two"));
        m_dialog->answer = u"Z:\\tmp\\list.txt";
        click("PushButton2");
        QCOMPARE(window.text2(), std::u16string(u"Z:\\tmp\\list.txt"));
        QCOMPARE(m_dialog->seen.size(), std::size_t(2));
        QCOMPARE(m_dialog->seen[0].fileName, std::u16string());
        QCOMPARE(m_dialog->seen[0].title, std::u16string(u"Select File To Copy And Rename"));
        QCOMPARE(m_dialog->seen[0].filter, std::u16string(u"All Files (*.*)|*.*"));
        QCOMPARE(m_dialog->seen[1].fileName, std::u16string());
        QCOMPARE(m_dialog->seen[1].title, std::u16string(u"Select Text File To Use"));
        QCOMPARE(m_dialog->seen[1].filter, std::u16string(u"Text Files (*.txt)|*.txt"));

        m_dialog->answer.clear(); // cancelled
        click("PushButton1");
        QCOMPARE(window.text1(), std::u16string(u"Z:\\tmp\\chosen file.bin"));
        m_dialog->fail = true; // reported for 106, then 108 finds no name
        click("PushButton2");
        QCOMPARE(m_boxes->reportedLines(), std::vector<int>({106}));
        QCOMPARE(window.text2(), std::u16string(u"Z:\\tmp\\list.txt"));
        QVERIFY(m_boxes->shown[0].prompt.find(u"Form1.PushButton2_Click at line 106") !=
                std::u16string::npos);
    }

    // A file dropped on a box is taken as the box's browse button would take it; anything
    // else is refused, and a refused drag shows the no-drop pointer. Names ending in "/" are
    // folders; an empty list drags plain text.
    void drops_data() {
        QTest::addColumn<QString>("into");
        QTest::addColumn<QStringList>("dragged");
        QTest::addColumn<int>("actions");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<bool>("boxOpen");
        const int copyOrMove = Qt::CopyAction | Qt::MoveAction;
        QTest::newRow("file on Text1")
            << "Text1" << QStringList{"chosen file.bin"} << copyOrMove << true << false;
        QTest::newRow("file on Text2")
            << "Text2" << QStringList{"list.txt"} << copyOrMove << true << false;
        QTest::newRow("linked file")
            << "Text2" << QStringList{"list.txt"} << int(Qt::LinkAction) << true << false;
        QTest::newRow("name Windows cannot carry")
            << "Text1" << QStringList{"what?.txt"} << copyOrMove << true << false;
        QTest::newRow("several files")
            << "Text2" << QStringList{"a.txt", "b.txt"} << copyOrMove << false << false;
        QTest::newRow("folder") << "Text1" << QStringList{"folder/"} << copyOrMove << false
                                << false;
        QTest::newRow("web address") << "Text2" << QStringList{"https://quorvane.example/list.txt"}
                                     << copyOrMove << false << false;
        QTest::newRow("plain text") << "Text1" << QStringList{} << copyOrMove << false << false;
        // Taken as a move, the file manager would delete the file.
        QTest::newRow("move only")
            << "Text1" << QStringList{"chosen file.bin"} << int(Qt::MoveAction) << false << false;
        QTest::newRow("while a box is open")
            << "Text1" << QStringList{"chosen file.bin"} << copyOrMove << false << true;
    }
    void drops() {
        QFETCH(QString, into);
        QFETCH(QStringList, dragged);
        QFETCH(int, actions);
        QFETCH(bool, taken);
        QFETCH(bool, boxOpen);
        const bool refusedName = dragged.value(0).contains(QLatin1Char('?'));
#ifdef Q_OS_WIN
        if (refusedName)
            QSKIP("every name Windows gives is its own");
#endif
        Form1& window = form();
        window.setText1(u"old one");
        window.setText2(u"old two");
        QList<QUrl> urls;
        fs::path file;
        for (const QString& name : dragged) {
            if (name.contains(QLatin1String("://"))) {
                urls << QUrl(name);
                continue;
            }
            file = m_install->path() / name.toStdString();
            if (name.endsWith(QLatin1Char('/')))
                fs::create_directory(file);
            else
                writeFile(file, "content");
            urls << QUrl::fromLocalFile(QString::fromStdU16String(file.generic_u16string()));
        }
        QDialog box;
        if (boxOpen) {
            box.setWindowModality(Qt::ApplicationModal);
            box.show(); // shown, never run: nothing waits for an answer
        }
        QMimeData data;
        urls.isEmpty() ? data.setText(QStringLiteral("C:\\typed.txt")) : data.setUrls(urls);

        QWidget* target = control(into.toLatin1().constData());
        const Qt::DropActions offered(actions);
        QDragEnterEvent enter(QPoint(5, 5), offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QCOMPARE(enter.isAccepted(), taken);
        QDropEvent drop(QPointF(5, 5), offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
        QCOMPARE(drop.isAccepted(), taken);
        if (taken)
            QVERIFY(drop.dropAction() != Qt::MoveAction);
        QCoreApplication::sendPostedEvents(); // a refused name is told once the drop has ended

        const bool filled = taken && !refusedName;
        QCOMPARE(window.text1(), filled && into == "Text1" ? win(file) : u"old one");
        QCOMPARE(window.text2(), filled && into == "Text2" ? win(file) : u"old two");
        QCOMPARE(m_boxes->shown.size(), std::size_t(refusedName));
        if (refusedName) {
            QCOMPARE(m_boxes->shown[0].prompt, std::u16string(kRefusedName));
            QCOMPARE(m_boxes->shown[0].style, int(MsgBoxExclamation));
        }
    }

    void dialogFilters() {
        const QStringList all = QtCommonDialog::nameFilters(u"All Files (*.*)|*.*");
        QCOMPARE(all, QStringList({"All Files (*.*) (*)"}));
        const QStringList text = QtCommonDialog::nameFilters(u"Text Files (*.txt)|*.txt");
        QCOMPARE(text.size(), 1);
        const QString pattern = text[0].section(QLatin1Char('('), -1).chopped(1);
        const QRegularExpression glob(QRegularExpression::wildcardToRegularExpression(pattern));
        QVERIFY(glob.match(QStringLiteral("list.txt")).hasMatch());
        QVERIFY(glob.match(QStringLiteral("LIST.TXT")).hasMatch());
        QVERIFY(!glob.match(QStringLiteral("list.txt.bak")).hasMatch());
    }

    void samples_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");
        QTest::newRow("folder") << "Z:\\opt\\Tools"
                                << "Z:\\opt\\Tools\\Samples\\";
        QTest::newRow("driveRoot") << "Z:\\"
                                   << "Z:\\\\Samples\\";
    }
    void samples() {
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        m_files->installationFolderOverride = folder.toStdU16String();
        Form1& window = form();
        window.setText1(u"overwritten");
        m_boxes->answer = MsgBoxNo;
        click("PushButton6");
        QCOMPARE(QString::fromStdU16String(window.text1()), expected + "sample.txt");
        QCOMPARE(QString::fromStdU16String(window.text2()), expected + "filelist.txt");
        QCOMPARE(m_boxes->shown.size(), std::size_t(1));
        QCOMPARE(m_boxes->shown[0].prompt,
                 std::u16string(u"Would you like this software to open the folder where these "
                                u"sample files are stored (so that you can view them before "
                                u"working with them)?"));
        QCOMPARE(m_boxes->shown[0].style, int(MsgBoxYesNo));
        QCOMPARE(m_boxes->shown[0].title, std::u16string());
        QVERIFY(m_shell->opened.empty());

        m_boxes->answer = MsgBoxYes;
        click("PushButton6");
        QCOMPARE(m_shell->opened.size(), std::size_t(1));
        const FakeShell::Opened& opened = m_shell->opened[0];
        QCOMPARE(opened.owner, window.windowHandle());
        QCOMPARE(opened.operation, std::u16string());
        QCOMPARE(QString::fromStdU16String(opened.file), '"' + expected + '"');
        QCOMPARE(opened.parameters, std::u16string());
        QCOMPARE(opened.directory, std::u16string(u"C:\\"));
        QCOMPARE(opened.show, 5);
    }

    void samplesQuestionFailureOpensTheFolder() {
        form();
        m_boxes->onShow = [](const ShownBox& box) {
            if (box.style == MsgBoxYesNo)
                throw PlatformError(u"no box");
        };
        click("PushButton6");
        QCOMPARE(m_boxes->reportedLines(), std::vector<int>({104}));
        QCOMPARE(m_shell->opened.size(), std::size_t(1));
    }

    void help() {
        form();
        click("PushButton5");
        click("PushButton5");
        QCOMPARE(m_boxes->shown.size(), std::size_t(2));
        QCOMPARE(m_boxes->shown[1].prompt,
                 std::u16string(u"Questions? Please contact Team Brenhaven at "
                                u"https://quorvane.example/contact"));
        QCOMPARE(m_boxes->shown[1].style, int(MsgBoxOkOnly));
        QCOMPARE(m_boxes->shown[1].title, std::u16string());
        QVERIFY(m_shell->opened.empty() && m_shell->launched.empty());
    }

    void startUpPlain() {
        Form1& window = form();
        window.Form_Load();
        QVERIFY(m_boxes->shown.empty());
        QCOMPARE(background("Form1"), QColor(Qt::white));
        QCOMPARE(background("Frame1"), QColor(Qt::white));
        QVERIFY(!window.hasHandPointer());
        QVERIFY(m_skin->calls.isEmpty());
        QCOMPARE(window.windowTitle(), QStringLiteral("Quorvane"));
        QVERIFY(!window.windowIcon().isNull());
        QCOMPARE(window.windowIcon().availableSizes().size(), 4);
        QCOMPARE(m_boxes->title, std::u16string(u"Quorvane"));
        QCOMPARE(m_random->seeded, 1);
        QVERIFY(m_shell->launched.empty());
    }

    void startUpWithSkinAndPointer() {
        install("x/o.cjs", "QGroupBox { color: navy; }");
        install("HAND-M.CUR", readFile(resource("/HAND-M.CUR")));
        Form1& window = form();
        window.Form_Load();
        QVERIFY(m_boxes->shown.empty());
        const QColor face = QGuiApplication::palette().color(QPalette::Button);
        QCOMPARE(background("Form1"), face);
        QCOMPARE(background("Frame1"), face);
        QCOMPARE(background("Frame2"), face);
        QCOMPARE(control("PushButton3")->palette().color(QPalette::Button), QColor(Qt::white));
        QCOMPARE(control("Text1")->palette().color(QPalette::Base),
                 QGuiApplication::palette().color(QPalette::Base));
        const QString path = QString::fromStdU16String(win(m_install->path())) + "\\x\\o.cjs";
        QCOMPARE(m_skin->calls, QStringList({"call 2 (\"" + path + "\", \"\")", "get 1", "put 1 7",
                                             "put 5 true", "put 10 true", "call 3 (handle)"}));
        QVERIFY(window.hasHandPointer());
        moveOver(control("PushButton1"));
        QCOMPARE(control("PushButton1")->cursor().shape(), Qt::BitmapCursor);
    }

    void startUpFailuresResumeWhereTheTableSays() {
        install("x/o.cjs", "x");
        install("HAND-M.CUR", "not a cursor");
        m_skin->failOn = SkinLoad;
        m_random->value = 0.065; // draws 7
        m_shell->fail = true;
        Form1& window = form();
        window.Form_Load();
        QCOMPARE(m_boxes->reportedLines(), std::vector<int>({102, 106, 108}));
        QVERIFY(m_boxes->shown[0].prompt.find(u"Form1.Form_Load at line 102") !=
                std::u16string::npos);
        // What the skin step did before it failed stays done.
        QCOMPARE(background("Form1"), QGuiApplication::palette().color(QPalette::Button));
        QCOMPARE(m_skin->calls.size(), 1);
        QVERIFY(!window.hasHandPointer());
        QCOMPARE(m_shell->launched.size(), std::size_t(1));
        QCOMPARE(m_shell->launched[0].first,
                 std::u16string(u"explorer \"https://quorvane.example/\""));
        QCOMPARE(m_shell->launched[0].second, 2);
        QCOMPARE(window.windowTitle(), QStringLiteral("Quorvane"));
        QCOMPARE(m_boxes->title, std::u16string(u"Quorvane"));
    }

    void homePageOnlyOnSeven_data() {
        QTest::addColumn<double>("fraction");
        QTest::addColumn<bool>("opens");
        QTest::newRow("draw 6") << 0.059 << false;
        QTest::newRow("draw 7 low") << 0.06 << true;
        QTest::newRow("draw 7 high") << 0.0699 << true;
        QTest::newRow("draw 8") << 0.07 << false;
    }
    void homePageOnlyOnSeven() {
        QFETCH(double, fraction);
        QFETCH(bool, opens);
        m_random->value = fraction;
        form().Form_Load();
        QCOMPARE(m_shell->launched.size(), std::size_t(opens ? 1 : 0));
    }

    void applicationTitle_data() {
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("title");
        QTest::newRow("short") << "Quorvane"
                               << "Quorvane";
        QTest::newRow("exactly 40") << QString(40, 'a') << QString(40, 'a');
        QTest::newRow("41 loses its last word") << QString(36, 'a') + " bbbb" << QString(36, 'a');
        QTest::newRow("several words") << "one two three four five six seven eight nine ten"
                                       << "one two three four five six seven eight";
    }
    void applicationTitle() {
        QFETCH(QString, product);
        QFETCH(QString, title);
        QCOMPARE(QString::fromStdU16String(CutApplicationTitle(product.toStdU16String())), title);
    }

    void tooLongATitleKeepsTheDefault() {
        Form1& window = form(std::u16string(41, u'x'));
        window.Form_Load();
        QCOMPARE(m_boxes->reportedLines(), std::vector<int>({126}));
        QCOMPARE(m_boxes->title, std::u16string(u"default title"));
        QCOMPARE(window.windowTitle(), QStringLiteral("Quorvane"));
    }

    // Each box keeps its lines whole and is wide enough for its title.
    void messageBoxes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("shownTitle");
        QTest::addColumn<bool>("warning");
        QTest::addColumn<int>("buttons");
        QTest::newRow("report") << QString::fromStdU16String(errorReportText(
                                       u"Disk full", u"in T.Form1.PushButton3_Click ", 132))
                                << int(MsgBoxExclamation) << "Application Error"
                                << "Application Error" << true << int(QDialogButtonBox::Ok);
        QTest::newRow("question")
            << "Would you like this software to open the folder where these sample files are "
               "stored (so that you can view them before working with them)?"
            << int(MsgBoxYesNo) << ""
            << "Quorvane" << false << int(QDialogButtonBox::Yes | QDialogButtonBox::No);
        QTest::newRow("help")
            << "Questions? Please contact Team Brenhaven at https://quorvane.example/contact"
            << int(MsgBoxOkOnly) << ""
            << "Quorvane" << false << int(QDialogButtonBox::Ok);
        QTest::newRow("done") << "Done." << int(MsgBoxOkOnly) << ""
                              << "Quorvane" << false << int(QDialogButtonBox::Ok);
    }
    void messageBoxes() {
        QFETCH(QString, text);
        QFETCH(int, style);
        QFETCH(QString, title);
        QtMessageBoxes boxes(u"quorvane");
        boxes.setApplicationTitle(u"Quorvane");
        const auto box = boxes.create(text.toStdU16String(), style, title.toStdU16String());
        QTEST(box->windowTitle(), "shownTitle");
        // Announced by a screen reader as an alert with its title and text.
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(box.get());
        QCOMPARE(spoken->role(), QAccessible::AlertMessage);
        QTEST(spoken->text(QAccessible::Name), "shownTitle");
        QCOMPARE(spoken->text(QAccessible::Description), box->textLabel()->text());
        QTEST(box->hasWarningIcon(), "warning");
        QTEST(int(box->buttons()->standardButtons()), "buttons");
        const bool yesNo = style & MsgBoxYesNo;
        QVERIFY(box->buttons()
                    ->button(yesNo ? QDialogButtonBox::Yes : QDialogButtonBox::Ok)
                    ->isDefault());
        const QStringList lines = box->textLabel()->text().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), text.count(QLatin1Char('\r')) - text.count(QStringLiteral("\r\n")) +
                                   text.count(QLatin1Char('\n')) + 1);
        // Widths need real fonts; Qt's offscreen platform on Windows has none.
        if (QFontDatabase::families().isEmpty())
            QSKIP("no fonts on this platform to measure lines with");
        QVERIFY(!box->textLabel()->wordWrap());
        const QFontMetrics metrics(box->textLabel()->font());
        box->adjustSize();
        for (const QString& line : lines)
            QVERIFY2(box->textLabel()->width() >= metrics.horizontalAdvance(line),
                     qPrintable(line));
        QVERIFY(box->width() >=
                QFontMetrics(QApplication::font()).horizontalAdvance(box->windowTitle()) + 100);
    }

    void designLookWhateverTheTheme() {
        QPalette dark;
        dark.setColor(QPalette::Window, Qt::black);
        dark.setColor(QPalette::WindowText, Qt::white);
        dark.setColor(QPalette::Button, QColor(40, 40, 40));
        dark.setColor(QPalette::ButtonText, QColor(240, 240, 240));
        QApplication::setPalette(dark);
        applyDesignLook();
        const QPalette palette = QApplication::palette();
        QVERIFY(palette.color(QPalette::Window).lightness() > 200);
        QVERIFY(palette.color(QPalette::ButtonText).lightness() < 60);
        QVERIFY(palette.color(QPalette::Base).lightness() > 200);
#ifndef Q_OS_WIN
        QCOMPARE(QApplication::font().family(), QStringLiteral("Liberation Sans"));
#endif
        QVERIFY(!QApplication::windowIcon().isNull());
        Form1& window = form();
        QCOMPARE(background("Frame1"), QColor(Qt::white));
        QVERIFY(control("PushButton3")->palette().color(QPalette::ButtonText).lightness() < 60);
        QVERIFY(window.palette().color(QPalette::WindowText).lightness() < 60);
    }

    void skinFilesMustParse() {
        StyleSheetSkin skin;
        install("good.qss", readFile(resource("/x/example.cjs")));
        install("bad.qss", "QPushButton { color: #fff; } }}} QLineEdit {");
        skin.callMethod(SkinLoad, {win(m_install->path() / "good.qss"), std::u16string()});
        QVERIFY_THROWS_EXCEPTION(
            PlatformError,
            skin.callMethod(SkinLoad, {win(m_install->path() / "bad.qss"), std::u16string()}));
    }

    void launcherCommandLines() {
        QCOMPARE(DesktopShell::splitCommandLine(u"tool  \"a b\" c \"\""),
                 QStringList({"tool", "a b", "c", ""}));
    }

    void cursorFiles() {
        const QCursor hand = cursorFromFile(readFile(resource("/HAND-M.CUR")));
        QCOMPARE(hand.pixmap().size(), QSize(32, 32));
        QCOMPARE(hand.hotSpot(), QPoint(11, 1));
        QVERIFY_THROWS_EXCEPTION(PlatformError, cursorFromFile(std::string(30, '\0')));
        // An icon serves as a pointer too, its hot spot at its centre.
        const QCursor icon = cursorFromFile(readFile(resource("/quorvane.ico")));
        QCOMPARE(icon.hotSpot(), QPoint(icon.pixmap().width() / 2, icon.pixmap().height() / 2));
    }
};

QTEST_MAIN(Form1Test)
#include "Form1Test.moc"
