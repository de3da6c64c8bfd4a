// The connection-parameter dialog, driven as a user would with keys and mouse clicks: what it shows
// and where, where Enter and Tab take the focus, what a save writes to the settings file (and what
// cancelling leaves alone), what a user without write permission gets, and a login saved here
// opening the connection at the next start.

#include "app/Startup.h"
#include "common/unGlobal.h"
#include "data/StatusText.h"
#include "data/dmLibData.h"
#include "forms/frmDbPara.h"
#include "forms/frmNorvelMain.h"
#include "shell/NorvelApplication.h"
#include "support/MessageBoxWatcher.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

using namespace testenv;

namespace {

const QString Caption = QStringLiteral("设置数据库【Lib】连接参数");
const QString SaveRefused =
    QStringLiteral("保存您配置的参数失败！只有具有权限的用户，如Administrator才能修改，请与系统管理员联系！");
// Started as "<test program> --save-as-this-user <report file>", the test program plays the user
// in a process of its own (see saveAsThisUser).
const char *const ChildSwitch = "--save-as-this-user";

template<typename T>
T *control(QWidget &dialog, const char *name)
{
    return dialog.findChild<T *>(QLatin1String(name));
}

bool openOnScreen(QWidget &dialog)
{
    dialog.show();
    dialog.activateWindow();
    return QTest::qWaitForWindowActive(&dialog);
}

// A key typed on the keyboard: the window system hands it to the window, Qt to the focused control.
void type(QWidget &dialog, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(dialog.windowHandle(), key, modifiers);
}

// Clicks into an edit, selects what it holds and types the text over it.
void typeInto(QWidget &dialog, const char *edit, const QString &text)
{
    auto *field = control<QLineEdit>(dialog, edit);
    QTest::mouseClick(field, Qt::LeftButton);
    type(dialog, Qt::Key_A, Qt::ControlModifier);
    type(dialog, Qt::Key_Backspace);
    for (const QChar ch : text)   // one key per character, whatever the keyboard layout
        QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

QString focused()
{
    return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
}

QStringList filesUnder(const QString &dir)
{
    QStringList found;
    const QDir root(dir);
    for (const QFileInfo &entry : root.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        found << entry.fileName();
        if (entry.isDir())
            for (const QString &inner : filesUnder(entry.filePath()))
                found << entry.fileName() + u'/' + inner;
    }
    return found;
}

// The folders and the file of the settings, made read-only for everyone while the object lives
// (so that an unprivileged child, or the owner when the tests do not run as root, may not write).
class ReadOnlySettings
{
public:
    explicit ReadOnlySettings(const QStringList &paths) : m_paths(paths)
    {
        for (const QString &path : m_paths)
            ::chmod(QFile::encodeName(path).constData(), QFileInfo(path).isDir() ? 0555 : 0444);
    }
    ~ReadOnlySettings()
    {
        for (const QString &path : m_paths)
            ::chmod(QFile::encodeName(path).constData(), QFileInfo(path).isDir() ? 0755 : 0644);
    }
    ReadOnlySettings(const ReadOnlySettings &) = delete;
    ReadOnlySettings &operator=(const ReadOnlySettings &) = delete;

private:
    QStringList m_paths;
};

// The child's part: open the dialog, show the settings, change the data source name, press
// "保存数据库连接参数", and write down what the user saw into the report file.
int saveAsThisUser(const QString &reportFile)
{
    MessageBoxWatcher boxes;
    TDbPara dialog;
    if (!openOnScreen(dialog))
        return 2;
    const QString filled = control<QLineEdit>(dialog, "edOdbc")->text();
    QTest::mouseClick(control<QPushButton>(dialog, "btMod"), Qt::LeftButton);
    typeInto(dialog, "edOdbc", QStringLiteral("Typed"));
    QTest::mouseClick(control<QPushButton>(dialog, "btOk"), Qt::LeftButton);   // returns once the box is answered

    QFile report(reportFile);
    if (!report.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 3;
    QStringList lines{QStringLiteral("filled\t") + filled,
                      QStringLiteral("visible\t") + (dialog.isVisible() ? u'1' : u'0')};
    for (const MessageBoxWatcher::Box &box : boxes.boxes())
        lines << QStringLiteral("box\t%1\t%2\t%3\t%4").arg(box.title, box.text).arg(box.icon).arg(box.buttons.join(u'|'));
    report.write(lines.join(u'\n').toUtf8());
    return 0;
}

} // namespace

class TestDbPara : public QObject
{
    Q_OBJECT

private slots:
    void init() { StatusText.clear(); }

    // Every control where the layout puts it, with its text, colour and font.
    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("colour");   // invalid: the window's own
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<bool>("rightAligned");
        const QColor red(0xff, 0, 0), navy(0, 0, 0x80), plain;
        const QString top = QStringLiteral("DbPara"), box = QStringLiteral("grbBox");
        const auto row = [](const QString &name, const QString &parent, QRect r, const QString &text, QColor colour,
                            int pixelSize = 12, bool rightAligned = false) {
            QTest::newRow(qPrintable(name)) << name << parent << r << text << colour << pixelSize << rightAligned;
        };
        row("Label4", top, {24, 8, 120, 12}, "数据库连接出错！！！", red);
        row("Label5", top, {48, 32, 192, 12}, "首先检查数据库服务器是否已运行；", red);
        row("Label8", top, {48, 48, 180, 12}, "再检查与服务器的通信是否正常；", red);
        row("Label6", top, {48, 64, 288, 12}, "再检查数据库参数是否是正确（注意不要随意改动）。", red);
        row("Label7", top, {50, 80, 276, 12}, "确定无误后，重新运行系统。或与系统管理员联系。", red);
        row("btMod", top, {352, 40, 121, 25}, "修改数据库连接参数", plain);
        row("btExit", top, {352, 72, 121, 25}, "取消", plain);
        row("grbBox", top, {8, 112, 465, 113}, "", plain);
        row("Label1", box, {24, 24, 48, 12}, "ODBC名称", navy, 12, true);
        row("Label2", box, {12, 48, 60, 12}, "登录标识号", navy, 12, true);
        row("Label3", box, {48, 72, 24, 12}, "密码", navy, 12, true);
        row("Label10", box, {302, 24, 150, 15}, "请不要随意改动！！！", red, 15);
        row("Label9", box, {8, 93, 348, 12}, "注意：此参数是与数据库连接使用的参数，非操作员用户和密码。", red);
        row("edOdbc", box, {72, 16, 121, 20}, "", plain);
        row("edUser", box, {72, 40, 121, 20}, "", plain);
        row("edPass", box, {72, 64, 121, 20}, "", plain);
        row("btOk", box, {336, 56, 121, 25}, "保存数据库连接参数", plain);
    }
    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(QColor, colour);
        QFETCH(int, pixelSize);
        QFETCH(bool, rightAligned);
        SettingsDir settings;
        TDbPara dialog;
        QVERIFY(openOnScreen(dialog));
        QTest::mouseClick(control<QPushButton>(dialog, "btMod"), Qt::LeftButton);

        QWidget *widget = control<QWidget>(dialog, qPrintable(name));
        QVERIFY(widget);
        QCOMPARE(widget->parentWidget()->objectName(), parent);
        QVERIFY(widget->isVisible());
        QCOMPARE(widget->font().family(), QStringLiteral("宋体"));
        QCOMPARE(widget->font().pixelSize(), pixelSize);
        if (colour.isValid())
            QCOMPARE(widget->palette().color(QPalette::WindowText), colour);

        if (auto *label = qobject_cast<QLabel *>(widget)) {
            QCOMPARE(label->text(), text);
            QCOMPARE(label->font().underline(), name == "Label10");
            QCOMPARE(bool(label->alignment() & Qt::AlignRight), rightAligned);
            // The whole text is readable: where the installed face needs more room than the
            // layout's face did, the label is a line high and as wide as its text, growing away
            // from the edge it is aligned to.
            const QFontMetrics metrics = label->fontMetrics();
            const int needed = metrics.horizontalAdvance(text);
            QRect expected = geometry;
            expected.setHeight(std::max(geometry.height(), metrics.height()));
            if (needed > geometry.width()) {
                if (rightAligned)
                    expected.setLeft(geometry.right() + 1 - needed);
                else
                    expected.setWidth(needed);
            }
            QCOMPARE(label->geometry(), expected);
        } else {
            QCOMPARE(widget->geometry(), geometry);
            if (auto *button = qobject_cast<QPushButton *>(widget))
                QCOMPARE(button->text(), text);
            if (auto *group = qobject_cast<QGroupBox *>(widget))
                QCOMPARE(group->title(), text);
        }
    }

    void windowAsItOpens()
    {
        SettingsDir settings;
        settings.writeSettings("LibODBC", "sa", "secret");
        TDbPara dialog;
        QVERIFY(openOnScreen(dialog));
        QCOMPARE(dialog.windowTitle(), Caption);
        QCOMPARE(dialog.size(), QSize(483, 105));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QCOMPARE(dialog.font().family(), QStringLiteral("宋体"));
        QCOMPARE(dialog.font().pixelSize(), 12);
        const Qt::WindowFlags flags = dialog.windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(!control<QGroupBox>(dialog, "grbBox")->isVisible());
        QCOMPARE(focused(), QStringLiteral("btExit"));
        // Centred on the screen.
        const QPoint offCentre = dialog.geometry().center() - dialog.screen()->geometry().center();
        QVERIFY2(offCentre.manhattanLength() <= 4, qPrintable(QStringLiteral("%1,%2").arg(offCentre.x()).arg(offCentre.y())));

        // Login name and password are masked, the data source name is not.
        QTest::mouseClick(control<QPushButton>(dialog, "btMod"), Qt::LeftButton);
        QCOMPARE(control<QLineEdit>(dialog, "edOdbc")->displayText(), QStringLiteral("LibODBC"));
        QCOMPARE(control<QLineEdit>(dialog, "edUser")->displayText(), QStringLiteral("**"));
        QCOMPARE(control<QLineEdit>(dialog, "edPass")->displayText(), QStringLiteral("******"));
        QCOMPARE(control<QLineEdit>(dialog, "edPass")->text(), QStringLiteral("secret"));
    }

    // The warning above the settings is drawn underlined: one red line across its text.
    void warningIsUnderlined()
    {
        SettingsDir settings;
        TDbPara dialog;
        QVERIFY(openOnScreen(dialog));
        QTest::mouseClick(control<QPushButton>(dialog, "btMod"), Qt::LeftButton);
        auto *warning = control<QLabel>(dialog, "Label10");
        const QImage drawn = warning->grab().toImage();
        const int textWidth = warning->fontMetrics().horizontalAdvance(warning->text());
        int longestRedRun = 0;
        for (int y = 0; y < drawn.height(); ++y) {
            int red = 0;
            for (int x = 0; x < drawn.width(); ++x) {
                const QColor c = drawn.pixelColor(x, y);
                red += c.red() > 160 && c.green() < 120 && c.blue() < 120;
            }
            longestRedRun = std::max(longestRedRun, red);
        }
        QVERIFY2(longestRedRun >= textWidth * 9 / 10, qPrintable(QString::number(longestRedRun)));
    }

    // "修改数据库连接参数" shows the settings and makes the window taller, once.
    void modifyShowsTheSettings()
    {
        SettingsDir settings;
        TDbPara dialog;
        QVERIFY(openOnScreen(dialog));
        auto *btMod = control<QPushButton>(dialog, "btMod");
        auto *group = control<QGroupBox>(dialog, "grbBox");
        QTest::mouseClick(btMod, Qt::LeftButton);
        QVERIFY(group->isVisible());
        QCOMPARE(dialog.size(), QSize(483, 236));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QVERIFY(dialog.rect().contains(group->geometry()));
        const QRect expanded = dialog.geometry();
        QTest::mouseClick(btMod, Qt::LeftButton);
        QCOMPARE(dialog.geometry(), expanded);
        QVERIFY(group->isVisible());
    }

    // Tab goes round btExit, btMod, edOdbc, edUser, edPass, btOk; Enter in an edit does the same
    // (and the edit still gets the key); a focused button takes Enter itself; Esc does nothing.
    void keyboard()
    {
        SettingsDir settings;
        TDbPara dialog;
        QVERIFY(openOnScreen(dialog));
        QCOMPARE(focused(), QStringLiteral("btExit"));
        type(dialog, Qt::Key_Tab);
        QCOMPARE(focused(), QStringLiteral("btMod"));
        type(dialog, Qt::Key_Return);   // presses "修改数据库连接参数"
        QVERIFY(control<QGroupBox>(dialog, "grbBox")->isVisible());
        QCOMPARE(focused(), QStringLiteral("btMod"));
        type(dialog, Qt::Key_Tab);
        QCOMPARE(focused(), QStringLiteral("edOdbc"));

        QSignalSpy odbcGotEnter(control<QLineEdit>(dialog, "edOdbc"), &QLineEdit::returnPressed);
        type(dialog, Qt::Key_Return);
        QCOMPARE(focused(), QStringLiteral("edUser"));
        QCOMPARE(odbcGotEnter.count(), 1);
        type(dialog, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(focused(), QStringLiteral("edPass"));
        type(dialog, Qt::Key_Return);
        QCOMPARE(focused(), QStringLiteral("btOk"));
        type(dialog, Qt::Key_Tab);   // round again
        QCOMPARE(focused(), QStringLiteral("btExit"));

        type(dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        QVERIFY(!QFileInfo::exists(settings.libFile()));
    }

    // Enter right after the dialog opens presses "取消": the window closes, nothing is saved.
    void enterRightAfterOpeningCancels()
    {
        SettingsDir settings;
        settings.writeSettings("LibODBC", "sa", "");
        const QByteArray before = settings.readLibFile();
        MessageBoxWatcher boxes;
        TDbPara dialog;
        QVERIFY(openOnScreen(dialog));
        type(dialog, Qt::Key_Return);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(settings.readLibFile(), before);
        QCOMPARE(boxes.count(), 0);
    }

    // The fields as the dialog opens: trimmed, decoded, and up to the first value that cannot be
    // read, which the error box reports while the dialog still opens.
    void fieldsFromTheStore_data()
    {
        QTest::addColumn<QByteArray>("file");   // null: no settings at all
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QString>("error");
        QTest::newRow("no settings") << QByteArray() << QStringList{"", "", ""} << "";
        QTest::newRow("trimmed and decoded")
            << QByteArray("[General]\nODBCNAME=\"  LibODBC \\t\"\nUSERNAME=\" 37073403\"\nPASSWORD=340334043407\n")
            << QStringList{"LibODBC", "sa", "abc"} << "";
        QTest::newRow("lenient digits, odd length")
            << QByteArray("[General]\nODBCNAME=Lib\nUSERNAME=2413\nPASSWORD=3403340\n") << QStringList{"Lib", "a", ""}
            << "";
        QTest::newRow("values missing") << QByteArray("[General]\nOTHER=1\n") << QStringList{"", "", ""} << "";
        QTest::newRow("non-digit login name")
            << QByteArray("[General]\nODBCNAME=LibODBC\nUSERNAME=37x7\nPASSWORD=3403\n") << QStringList{"LibODBC", "", ""}
            << "'x' is not a valid integer value.";
        QTest::newRow("non-digit password")
            << QByteArray("[General]\nODBCNAME=LibODBC\nUSERNAME=37073403\nPASSWORD=34a3\n")
            << QStringList{"LibODBC", "sa", ""} << "'a' is not a valid integer value.";
        QTest::newRow("login name of another type")
            << QByteArray("[General]\nODBCNAME=LibODBC\nUSERNAME=@ByteArray(3707)\nPASSWORD=3403\n")
            << QStringList{"LibODBC", "", ""} << "Invalid data type for 'USERNAME'";
    }
    void fieldsFromTheStore()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, fields);
        QFETCH(QString, error);
        SettingsDir settings;
        if (!file.isNull())
            settings.writeLibFile(file);
        MessageBoxWatcher boxes;
        TDbPara dialog;
        if (error.isEmpty()) {
            QCOMPARE(boxes.count(), 0);
        } else {
            QCOMPARE(boxes.count(), 1);
            QCOMPARE(boxes.boxes().first().title, QStringLiteral("Norvel"));
            QCOMPARE(boxes.boxes().first().text, error);
            QCOMPARE(boxes.boxes().first().icon, QMessageBox::Critical);
        }
        QVERIFY(openOnScreen(dialog));
        QCOMPARE(dialog.windowTitle(), Caption);
        QCOMPARE(focused(), QStringLiteral("btExit"));
        QCOMPARE((QStringList{control<QLineEdit>(dialog, "edOdbc")->text(), control<QLineEdit>(dialog, "edUser")->text(),
                              control<QLineEdit>(dialog, "edPass")->text()}),
                 fields);
        QCOMPARE(boxes.count(), error.isEmpty() ? 0 : 1);
    }

    // What "保存数据库连接参数" writes: trimmed, login in digit form, the rest of the file kept, the
    // vendor folder and the file made when missing, nothing world-writable; then the window closes.
    void save_data()
    {
        QTest::addColumn<QByteArray>("file");      // null: no settings at all
        QTest::addColumn<QStringList>("typed");    // null entries: field left as it opened
        QTest::addColumn<bool>("byKeyboard");      // Enter on the focused button instead of a click
        QTest::addColumn<QStringList>("stored");   // ODBCNAME, USERNAME, PASSWORD as written
        QTest::newRow("empty fields, nothing stored yet")
            << QByteArray() << QStringList{QString(), QString(), QString()} << false << QStringList{"", "", ""};
        QTest::newRow("typed with blanks")
            << QByteArray() << QStringList{"  LibODBC ", " sa", "abc  "} << true
            << QStringList{"LibODBC", "37073403", "340334043407"};
        QTest::newRow("replaces the values, keeps the rest")
            << QByteArray("[General]\nNOTE=kept\nODBCNAME=Old\nPASSWORD=3403\nUSERNAME=3403\n\n[Other]\nKey=value\n")
            << QStringList{"New", "sa", ""} << false << QStringList{"New", "37073403", ""};
        QTest::newRow("fields as they opened")
            << QByteArray("[General]\nODBCNAME=\" Lib \"\nPASSWORD=3407\nUSERNAME=37073403\n")
            << QStringList{QString(), QString(), QString()} << false << QStringList{"Lib", "37073403", "3407"};
        QTest::newRow("a vendor folder without settings")
            << QByteArray("-") << QStringList{"Lib", "", "x"} << false << QStringList{"Lib", "", "3740"};
    }
    void save()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, typed);
        QFETCH(bool, byKeyboard);
        QFETCH(QStringList, stored);
        SettingsDir settings;
        if (file == "-")
            QVERIFY(QDir().mkpath(settings.path() + "/Kestavo"));
        else if (!file.isNull())
            settings.writeLibFile(file);

        MessageBoxWatcher boxes;
        TDbPara dialog;
        QVERIFY(openOnScreen(dialog));
        QTest::mouseClick(control<QPushButton>(dialog, "btMod"), Qt::LeftButton);
        const char *edits[] = {"edOdbc", "edUser", "edPass"};
        for (int i = 0; i < 3; ++i) {
            if (!typed[i].isNull())
                typeInto(dialog, edits[i], typed[i]);
        }
        const mode_t oldMask = ::umask(0);
        if (byKeyboard) {
            QTest::mouseClick(control<QLineEdit>(dialog, "edPass"), Qt::LeftButton);
            type(dialog, Qt::Key_Return);
            QCOMPARE(focused(), QStringLiteral("btOk"));
            type(dialog, Qt::Key_Return);
        } else {
            QTest::mouseClick(control<QPushButton>(dialog, "btOk"), Qt::LeftButton);
        }
        ::umask(oldMask);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(boxes.count(), 0);

        QCOMPARE(filesUnder(settings.path()), (QStringList{"Kestavo", "Kestavo/Lib.conf"}));
        // Made under umask 000 all the same: a folder and a file only their owner may change.
        for (const auto &[path, mode] : {std::pair{settings.path() + "/Kestavo", 0755}, std::pair{settings.libFile(), 0644}}) {
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
            QCOMPARE(QString::number(st.st_mode & 07777, 8), QString::number(mode, 8));
        }
        const QSettings written(settings.libFile(), QSettings::IniFormat);
        const QStringList names{"ODBCNAME", "USERNAME", "PASSWORD"};
        for (int i = 0; i < 3; ++i) {
            QVERIFY2(written.contains(names[i]), qPrintable(names[i]));
            QCOMPARE(written.value(names[i]).typeId(), QMetaType::QString);
            QCOMPARE(written.value(names[i]).toString(), stored[i]);
        }
        if (file.startsWith("[General]\nNOTE")) {
            QCOMPARE(written.value("NOTE").toString(), QStringLiteral("kept"));
            QCOMPARE(written.value("Other/Key").toString(), QStringLiteral("value"));
        }

        // The data module reads back what was typed (trimmed).
        TLibDM dm(TLibDM::Open::Later);
        dm.readStoredSettings();
        QCOMPARE(dm.aliasName(), stored[0]);
        QCOMPARE(dm.params(), (QStringList{"USER NAME=" + QString::fromLatin1(DecodeParam(stored[1].toLatin1())),
                                           "PASSWORD=" + QString::fromLatin1(DecodeParam(stored[2].toLatin1()))}));
    }

    // Files an administrator wrote or changed by hand: start-up and the dialog read the same values
    // from them, and a save replaces the three values in their own lines (or adds them to the
    // General section) and keeps the rest byte for byte: comments, blank lines, other sections,
    // unknown keys, the byte-order mark, the line ends. "USERNAME=3403" is the login "a"; the save
    // types "NewLib", "sa" and "abc".
    void handEditedFile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("fields");   // as both read them
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("CR LF, comment above [General]")
            << QByteArray("# written by the administrator\r\n[General]\r\nODBCNAME=Lib\r\nUSERNAME=3403\r\nPASSWORD=\r\n")
            << QStringList{"Lib", "a", ""}
            << QByteArray("# written by the administrator\r\n[General]\r\nODBCNAME=NewLib\r\nUSERNAME=37073403\r\n"
                          "PASSWORD=340334043407\r\n");
        QTest::newRow("byte-order mark, blank lines, comments")
            << QByteArray("\xef\xbb\xbf; Norvel\n\n[General]\n# the data source\nODBCNAME = Lib ; main library\n\n; login\n"
                          "USERNAME=\" 3403\"\nPASSWORD=3403\n\n")
            << QStringList{"Lib", "a", "a"}
            << QByteArray("\xef\xbb\xbf; Norvel\n\n[General]\n# the data source\nODBCNAME = NewLib ; main library\n\n; login\n"
                          "USERNAME=37073403\nPASSWORD=340334043407\n\n");
        QTest::newRow("other sections, unknown keys")
            << QByteArray("[Before]\nODBCNAME=NotThis\n# a line Qt cannot read\n\n[General]\nNOTE=kept\nODBCNAME=Lib\n"
                          "PASSWORD=3403\nUSERNAME=3403\nODBC=x\n\n[After]\nKey=value\nUSERNAME=NotThis\n")
            << QStringList{"Lib", "a", "a"}
            << QByteArray("[Before]\nODBCNAME=NotThis\n# a line Qt cannot read\n\n[General]\nNOTE=kept\nODBCNAME=NewLib\n"
                          "PASSWORD=340334043407\nUSERNAME=37073403\nODBC=x\n\n[After]\nKey=value\nUSERNAME=NotThis\n");
        QTest::newRow("headers without ]")
            << QByteArray("[General\nODBCNAME=Lib\nUSERNAME=3403\nPASSWORD=\n[Other ; note\nKey=value\n")
            << QStringList{"Lib", "a", ""}
            << QByteArray("[General]\nODBCNAME=NewLib\nUSERNAME=37073403\nPASSWORD=340334043407\n[Other] ; note\nKey=value\n");
        QTest::newRow("values missing")
            << QByteArray("# by hand\n[General]\nNOTE=kept\n# end of General\n\n[Other]\nKey=value\n")
            << QStringList{"", "", ""}
            << QByteArray("# by hand\n[General]\nNOTE=kept\nODBCNAME=NewLib\nUSERNAME=37073403\nPASSWORD=340334043407\n"
                          "# end of General\n\n[Other]\nKey=value\n");
        QTest::newRow("no General section, no line end at the end")
            << QByteArray("# by hand\r\n[Other]\r\nKey=value") << QStringList{"", "", ""}
            << QByteArray("# by hand\r\n[Other]\r\nKey=value\r\n\r\n[General]\r\nODBCNAME=NewLib\r\nUSERNAME=37073403\r\n"
                          "PASSWORD=340334043407\r\n");
        QTest::newRow("values before any header")
            << QByteArray("ODBCNAME=Lib\nUSERNAME=3403\n\n[Other]\nKey=value\n") << QStringList{"Lib", "a", ""}
            << QByteArray("ODBCNAME=NewLib\nUSERNAME=37073403\nPASSWORD=340334043407\n\n[Other]\nKey=value\n");
        QTest::newRow("a value twice: the later one counts")
            << QByteArray("[General]\nODBCNAME=Old\n[general]\nODBCNAME=Lib\nUSERNAME=3403\nPASSWORD=3403\n")
            << QStringList{"Lib", "a", "a"}
            << QByteArray("[General]\nODBCNAME=Old\n[general]\nODBCNAME=NewLib\nUSERNAME=37073403\nPASSWORD=340334043407\n");
        QTest::newRow("byte-order mark, first value indented")
            << QByteArray("\xef\xbb\xbf  ODBCNAME = Lib\n") << QStringList{"Lib", "", ""}
            << QByteArray("\xef\xbb\xbfODBCNAME = NewLib\nUSERNAME=37073403\nPASSWORD=340334043407\n");
        QTest::newRow("empty file") << QByteArray("") << QStringList{"", "", ""}
                                    << QByteArray("[General]\nODBCNAME=NewLib\nUSERNAME=37073403\nPASSWORD=340334043407\n");
    }
    void handEditedFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, fields);
        QFETCH(QByteArray, saved);
        SettingsDir settings;
        settings.writeLibFile(file);
        const QFile::Permissions permissions = QFileInfo(settings.libFile()).permissions();
        {
            TLibDM dm(TLibDM::Open::Later);
            dm.readStoredSettings();
            QCOMPARE(dm.aliasName(), fields[0]);
            QCOMPARE(dm.params(), (QStringList{"USER NAME=" + fields[1], "PASSWORD=" + fields[2]}));
        }

        MessageBoxWatcher boxes;
        TDbPara dialog;
        QVERIFY(openOnScreen(dialog));
        QCOMPARE((QStringList{control<QLineEdit>(dialog, "edOdbc")->text(), control<QLineEdit>(dialog, "edUser")->text(),
                              control<QLineEdit>(dialog, "edPass")->text()}),
                 fields);
        QTest::mouseClick(control<QPushButton>(dialog, "btMod"), Qt::LeftButton);
        typeInto(dialog, "edOdbc", "NewLib");
        typeInto(dialog, "edUser", "sa");
        typeInto(dialog, "edPass", "abc");
        QTest::mouseClick(control<QPushButton>(dialog, "btOk"), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(boxes.count(), 0);
        QCOMPARE(settings.readLibFile(), saved);
        QCOMPARE(filesUnder(settings.path()), (QStringList{"Kestavo", "Kestavo/Lib.conf"}));
        QCOMPARE(QFileInfo(settings.libFile()).permissions(), permissions);

        // What an earlier version of the program, reading through QSettings, finds in the file.
        const QSettings qt(settings.libFile(), QSettings::NativeFormat);
        QCOMPARE(qt.value("ODBCNAME").toString(), QStringLiteral("NewLib"));
        QCOMPARE(qt.value("USERNAME").toString(), QStringLiteral("37073403"));
        QCOMPARE(qt.value("PASSWORD").toString(), QStringLiteral("340334043407"));

        TLibDM next(TLibDM::Open::Later);
        next.readStoredSettings();
        QCOMPARE(next.aliasName(), QStringLiteral("NewLib"));
        QCOMPARE(next.params(), (QStringList{"USER NAME=sa", "PASSWORD=abc"}));
    }

    // A login name or password outside ASCII is stored as the bytes of the system's encoding and
    // comes back as it was typed.
    void nonAsciiLoginRoundTrips()
    {
        SettingsDir settings;
        const QString user = QStringLiteral("馆员"), password = QStringLiteral("pä ss");
        {
            TDbPara dialog;
            QVERIFY(openOnScreen(dialog));
            QTest::mouseClick(control<QPushButton>(dialog, "btMod"), Qt::LeftButton);
            typeInto(dialog, "edUser", user);
            typeInto(dialog, "edPass", password);
            QTest::mouseClick(control<QPushButton>(dialog, "btOk"), Qt::LeftButton);
            QVERIFY(!dialog.isVisible());
        }
        const QSettings written(settings.libFile(), QSettings::IniFormat);
        const QString digits = written.value("USERNAME").toString();
        QVERIFY(digits.size() >= 4 * user.size());
        QVERIFY(QRegularExpression("^[0347]+$").match(digits).hasMatch());
        TDbPara again;
        QCOMPARE(control<QLineEdit>(again, "edUser")->text(), user);
        QCOMPARE(control<QLineEdit>(again, "edPass")->text(), password);
    }

    // "取消" and the close box leave the settings as they were, even after editing the fields.
    void cancelChangesNothing_data()
    {
        QTest::addColumn<bool>("haveSettings");
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("取消") << true << false;
        QTest::newRow("close box") << true << true;
        QTest::newRow("取消, nothing stored") << false << false;
        QTest::newRow("close box, nothing stored") << false << true;
    }
    void cancelChangesNothing()
    {
        QFETCH(bool, haveSettings);
        QFETCH(bool, closeBox);
        SettingsDir settings;
        if (haveSettings)
            settings.writeLibFile("[General]\nODBCNAME=LibODBC\nUSERNAME=37073403\nPASSWORD=\nNOTE=x\n");
        const QByteArray before = settings.readLibFile();
        const QStringList filesBefore = filesUnder(settings.path());
        MessageBoxWatcher boxes;
        TDbPara dialog;
        QVERIFY(openOnScreen(dialog));
        QTest::mouseClick(control<QPushButton>(dialog, "btMod"), Qt::LeftButton);
        typeInto(dialog, "edOdbc", "Other");
        typeInto(dialog, "edPass", "pw");
        if (closeBox)
            dialog.windowHandle()->close();   // as the window manager's close box does
        else
            QTest::mouseClick(control<QPushButton>(dialog, "btExit"), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(settings.readLibFile(), before);
        QCOMPARE(filesUnder(settings.path()), filesBefore);
        QCOMPARE(boxes.count(), 0);
    }

    // As a user who may not write the settings: with the key there the save is refused with the
    // message and the window closes; where the key would have to be created, the error box says so
    // and the window stays open. Nothing changes either way. The dialog runs in a process of its own
    // (this program, started again as user nobody), not in a forked copy of this GUI process.
    void unprivilegedUser_data()
    {
        QTest::addColumn<QString>("have");   // "file", "folder" or "nothing"
        QTest::addColumn<QStringList>("box");   // caption, text, icon, buttons
        QTest::addColumn<bool>("staysOpen");
        QTest::newRow("settings present")
            << "file" << QStringList{"提示信息", SaveRefused, QString::number(QMessageBox::Information), "确定"} << false;
        QTest::newRow("no vendor folder")
            << "nothing"
            << QStringList{"Norvel", "Failed to create key SOFTWARE\\Kestavo.", QString::number(QMessageBox::Critical), "确定"}
            << true;
        QTest::newRow("vendor folder without settings")
            << "folder"
            << QStringList{"Norvel", "Failed to create key SOFTWARE\\Kestavo\\Lib.",
                           QString::number(QMessageBox::Critical), "确定"}
            << true;
    }
    void unprivilegedUser()
    {
        QFETCH(QString, have);
        QFETCH(QStringList, box);
        QFETCH(bool, staysOpen);
        SettingsDir settings;
        QStringList readOnly{settings.path()};
        if (have == "file") {
            settings.writeSettings("LibODBC", "sa", "");
            readOnly << settings.path() + "/Kestavo" << settings.libFile();
        } else if (have == "folder") {
            QVERIFY(QDir().mkpath(settings.path() + "/Kestavo"));
            readOnly << settings.path() + "/Kestavo";
        }
        const QByteArray before = settings.readLibFile();
        const QStringList filesBefore = filesUnder(settings.path());

        QTemporaryDir reportDir;
        QFile::setPermissions(reportDir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        giveToNobody(reportDir.path());
        const QByteArray program = QFile::encodeName(QCoreApplication::applicationFilePath());
        const QByteArray platform = QGuiApplication::platformName().toLocal8Bit();
        const QByteArray report = QFile::encodeName(reportDir.filePath("report"));
        int code;
        {
            ReadOnlySettings guard(readOnly);
            code = runUnprivileged([&] {
                ::execl(program.constData(), program.constData(), "-platform", platform.constData(), ChildSwitch,
                        report.constData(), static_cast<char *>(nullptr));
                return 126;
            });
        }
        QVERIFY2(code == 0, qPrintable(QStringLiteral("the dialog's process ended with %1").arg(code)));

        QFile file(reportDir.filePath("report"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
        QCOMPARE(lines.value(0), QStringLiteral("filled\t") + (have == "file" ? "LibODBC" : ""));
        QCOMPARE(lines.value(1), QStringLiteral("visible\t") + (staysOpen ? "1" : "0"));
        QCOMPARE(lines.mid(2), QStringList{"box\t" + box.join(u'\t')});
        QCOMPARE(settings.readLibFile(), before);
        QCOMPARE(filesUnder(settings.path()), filesBefore);
    }

    // After a failed start the user types the right login into the dialog and saves it; the next
    // start opens the connection with it and the main window.
    void savedLoginOpensTheConnectionAtTheNextStart()
    {
        QString why;
        if (!haveDatabaseServer(&why))
            QFAIL(qPrintable(why));
        PgDatabase db;
        const QString user = QStringLiteral("dbpara_login_%1").arg(::getpid());
        const QString password = QStringLiteral("right-pw");
        execSql(pgConnectionString("postgres"),
                {QStringLiteral("DROP ROLE IF EXISTS %1").arg(user),
                 QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD '%2'").arg(user, password)});
        const auto dropRole = qScopeGuard([&] {
            execSql(pgConnectionString("postgres"), {QStringLiteral("DROP ROLE IF EXISTS %1").arg(user)});
        });
        SettingsDir settings;
        settings.writeSettings(QStringLiteral("NoSuchSource"), QStringLiteral("sa"), QStringLiteral("wrong"));
        const QString dsn = addPgDataSource(db.name());
        MessageBoxWatcher boxes;

        StartedProgram failed = startProgram();
        QVERIFY(!failed.dataModule);
        auto *dialog = qobject_cast<TDbPara *>(failed.mainWindow.get());
        QVERIFY(dialog);
        QVERIFY(openOnScreen(*dialog));
        QTest::mouseClick(control<QPushButton>(*dialog, "btMod"), Qt::LeftButton);
        QCOMPARE(control<QLineEdit>(*dialog, "edPass")->text(), QStringLiteral("wrong"));
        typeInto(*dialog, "edOdbc", dsn);
        typeInto(*dialog, "edUser", user);
        typeInto(*dialog, "edPass", password);
        QTest::mouseClick(control<QPushButton>(*dialog, "btOk"), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        failed = {};
        QVERIFY(!settings.readLibFile().contains(password.toUtf8()));   // stored in digit form only

        StatusText.clear();
        StartedProgram next = startProgram();
        QVERIFY(qobject_cast<TNorvelMain *>(next.mainWindow.get()));
        QCOMPARE(StatusText, QStringLiteral("OK"));
        QVERIFY(next.dataModule->LibDB().isOpen());
        QCOMPARE(next.dataModule->aliasName(), dsn);
        QCOMPARE(next.dataModule->param("USER NAME"), user);
        QCOMPARE(selectRows(pgConnectionString(db.name()),
                            QStringLiteral("select count(*) from pg_stat_activity where usename = '%1'").arg(user))
                     .value(0)
                     .value(0),
                 QStringLiteral("1"));
        next = {};
        QCOMPARE(boxes.count(), 0);
    }
};

int main(int argc, char **argv)
{
    NorvelApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], ChildSwitch) == 0)
        return saveAsThisUser(QFile::decodeName(argv[2]));
    TestDbPara test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dbpara.moc"
