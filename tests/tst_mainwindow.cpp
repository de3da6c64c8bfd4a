// The main window as a user meets it: its layout, the backup confirmation that guards the start
// button, a padding run started from it against PostgreSQL (progress, result lines, final message,
// the done state), a run that fails, and what happens to clicks made while a run blocks the window.

#include "connection/LibConnection.h"
#include "forms/frmNorvelMain.h"
#include "run/RunManifest.h"
#include "shell/NorvelApplication.h"
#include "support/MessageBoxWatcher.h"
#include "support/PaddingModel.h"
#include "support/TestEnvironment.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSqlError>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QWindow>

using namespace testenv;

namespace {

// The program's connection "LibDB", opened on a test database for as long as the object lives.
class OpenLibDB
{
public:
    explicit OpenLibDB(const QString &connectionString)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), LibConnection::DatabaseName);
        db.setDatabaseName(connectionString);
        if (!db.open())
            throw std::runtime_error(db.lastError().text().toStdString());
    }
    ~OpenLibDB()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(LibConnection::DatabaseName, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(LibConnection::DatabaseName);
    }
    OpenLibDB(const OpenLibDB &) = delete;
    OpenLibDB &operator=(const OpenLibDB &) = delete;
};

// The values the progress bar showed on the screen, in order (each distinct value once in a row).
class PaintedValues : public QObject
{
public:
    explicit PaintedValues(QProgressBar *bar) : m_bar(bar) { bar->installEventFilter(this); }
    QList<int> values;
    std::function<void()> onFirstPaint;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_bar && event->type() == QEvent::Paint) {
            if (values.isEmpty() || values.back() != m_bar->value())
                values << m_bar->value();
            if (onFirstPaint)
                std::exchange(onFirstPaint, nullptr)();
        }
        return false;
    }

private:
    QProgressBar *m_bar;
};

// Card numbers as reader and loan rows, with a collision in each of the first two passes for the
// length 9: "1" and "12" already exist padded.
model::Library sampleLibrary()
{
    return {{{"1", "1"},
             {"000000001", "000000001"},
             {"12", "12"},
             {"000000012", "q"},
             {"123", "123"},
             {"4567", ""},
             {"123456789", "p"}},
            {"1", "12", "123", "123", "4567", "555", "123456789"}};
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<PgDatabase> m_db;
    QTemporaryDir m_journal;

    template<typename Control>
    static Control *control(const TNorvelMain &window, const char *name)
    {
        auto *found = window.findChild<Control *>(QLatin1String(name));
        if (!found)
            qFatal("the window has no %s of the expected kind", name);
        return found;
    }

    static void showAndActivate(TNorvelMain &window)
    {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }

    void createTables(const model::Library &lib, const QStringList &extraSql = {})
    {
        m_db->exec(QStringList{QStringLiteral("drop function if exists boom() cascade")} + model::tableStatements(lib)
                   + extraSql);
    }

    model::Library tables() const
    {
        model::Library lib;
        for (const QStringList &row : m_db->rows(QStringLiteral("select pe_id, pe_passwd from lib_people")))
            lib.readers << model::Reader{row.value(0), row.value(1)};
        const QString tableExists = m_db->rows(QStringLiteral("select count(*) from pg_tables where tablename = 'lib_jieshu'"))
                                        .value(0)
                                        .value(0);
        if (tableExists == QStringLiteral("1")) {
            for (const QStringList &row : m_db->rows(QStringLiteral("select js_libcard from lib_jieshu")))
                lib.loans << row.value(0);
        }
        return lib;
    }

    static void checkUnchanged(const model::Library &now, const model::Library &before)
    {
        QCOMPARE(model::canonicalReaders(now.readers), model::canonicalReaders(before.readers));
        QCOMPARE(model::canonicalLoans(now.loans), model::canonicalLoans(before.loans));
    }

    // The user confirms the backup and presses the start button, both with the mouse.
    static void confirmAndStart(TNorvelMain &window)
    {
        QTest::mouseClick(control<QCheckBox>(window, "cbBackup"), Qt::LeftButton);
        QVERIFY(control<QPushButton>(window, "btLTAdd")->isEnabled());
        QTest::mouseClick(control<QPushButton>(window, "btLTAdd"), Qt::LeftButton);
    }

    // A click as the window system hands it to the application. (QTest's clicks on a window also
    // run the event loop, which would let the message box watcher answer a box in between.)
    static void windowSystemClick(QWindow *window, QPoint pos)
    {
        static int timestamp = 1'000'000;
        const QPointF global = window->mapToGlobal(pos);
        timestamp += 1000;
        qt_handleMouseEvent(window, pos, global, Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress, {}, timestamp);
        timestamp += 1000;
        qt_handleMouseEvent(window, pos, global, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease, {}, timestamp);
    }

    // Types into a field the way a user does: click into it, select everything, type.
    static void typeInto(QWidget *field, const QString &text)
    {
        QTest::mouseClick(field, Qt::LeftButton);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        if (text.isEmpty())
            QTest::keyClick(field, Qt::Key_Delete);
        else
            QTest::keyClicks(field, text);
    }

    // Reader 7 with loans 7 and 8, and reader 123456, padded to 6 from the window (`extraSql` runs
    // after the tables are made): the run completes without collisions. A failure ends this helper,
    // not the test: a caller that checks more looks at QTest::currentTestFailed() first.
    void padSmallLibrary(const QStringList &extraSql = {})
    {
        createTables({{{"7", "7"}, {"123456", "x"}}, {"7", "8"}}, extraSql);
        OpenLibDB connection(m_db->connectionString());
        TNorvelMain window;
        showAndActivate(window);
        typeInto(control<QLineEdit>(window, "edLen"), QStringLiteral("6"));
        MessageBoxWatcher boxes;
        confirmAndStart(window);
        QTRY_COMPARE(boxes.count(), 1);
        QCOMPARE(boxes.boxes().first().text, QStringLiteral("处理完成！"));
        QCOMPARE(control<QPlainTextEdit>(window, "memErr")->toPlainText(), QStringLiteral("处理成功完成!"));
        checkUnchanged(tables(), {{{"000007", "000007"}, {"123456", "x"}}, {"000007", "000008"}});
    }

private slots:
    void initTestCase()
    {
        QString why;
        if (!haveDatabaseServer(&why))
            QFAIL(qPrintable(why));
        m_db = std::make_unique<PgDatabase>();
        // Every run keeps its record in the journal: here, not in the machine's.
        QVERIFY(m_journal.isValid());
        qputenv("NORVEL_JOURNAL_DIR", QFile::encodeName(m_journal.path()));
    }
    void cleanupTestCase() { m_db.reset(); }

    // A handler named in the layout but missing from the class is only a warning when the window
    // is made: make it a failure.
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("QObject::connect|No such (slot|signal)"))); }

    void window()
    {
        TNorvelMain window;
        QVERIFY(!qobject_cast<QDialog *>(&window));
        QVERIFY(window.isWindow());
        QCOMPARE(window.objectName(), QStringLiteral("NorvelMain"));
        QCOMPARE(window.windowTitle(), QStringLiteral("扩展借书证到统一长度"));
        showAndActivate(window);
        QCOMPARE(window.size(), QSize(427, 192));
        QCOMPARE(window.minimumSize(), QSize(427, 192));
        QCOMPARE(window.maximumSize(), QSize(427, 192));
        const Qt::WindowFlags flags = window.windowFlags();
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        const QPoint offCentre = window.geometry().center() - window.screen()->geometry().center();
        QVERIFY2(offCentre.manhattanLength() <= 1, qPrintable(QStringLiteral("%1,%2").arg(offCentre.x()).arg(offCentre.y())));
        QCOMPARE(window.palette().color(QPalette::Window), window.palette().color(QPalette::Button));

        // "宋体" at 12 pixels, drawn by the CJK face the application maps it to.
        QCOMPARE(window.font().family(), QStringLiteral("宋体"));
        QCOMPARE(window.font().pixelSize(), 12);
        const QFontInfo shown(control<QLabel>(window, "Label1")->font());
        QCOMPARE(shown.pixelSize(), 12);
        QVERIFY2(QFont::substitutes(QStringLiteral("宋体")).contains(shown.family(), Qt::CaseInsensitive),
                 qPrintable(shown.family() + u'/' + QFont::substitutes(QStringLiteral("宋体")).join(u',')));

        // Esc does not close it.
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(window.isVisible());
    }

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("text");
        QTest::newRow("Label1") << "Label1" << "QLabel" << QRect(16, 24, 60, 12) << true << true << "设置证长度";
        QTest::newRow("edLen") << "edLen" << "QLineEdit" << QRect(80, 16, 25, 20) << true << true << "9";
        QTest::newRow("btLTAdd") << "btLTAdd" << "QPushButton" << QRect(16, 40, 145, 25) << true << false << "开始处理";
        QTest::newRow("cbBackup") << "cbBackup" << "QCheckBox" << QRect(16, 72, 129, 17) << true << true
                                  << "我已经备份好数据库";
        QTest::newRow("pBar") << "pBar" << "QProgressBar" << QRect(16, 96, 145, 18) << false << true << "";
        QTest::newRow("Label2") << "Label2" << "QLabel" << QRect(16, 120, 144, 12) << true << true
                                << "大于此长度的借书证将不做";
        QTest::newRow("Label3") << "Label3" << "QLabel" << QRect(16, 136, 36, 12) << true << true << "处理。";
        QTest::newRow("btExit") << "btExit" << "QPushButton" << QRect(16, 152, 81, 25) << true << true << "关闭";
        QTest::newRow("memErr") << "memErr" << "QPlainTextEdit" << QRect(168, 8, 249, 177) << true << true << "";
    }
    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QRect, geometry);
        QFETCH(bool, visible);
        QFETCH(bool, enabled);
        QFETCH(QString, text);
        TNorvelMain window;
        showAndActivate(window);
        auto *widget = window.findChild<QWidget *>(name);
        QVERIFY(widget);
        QCOMPARE(widget->parentWidget(), &window);
        QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), kind);
        QCOMPARE(widget->geometry(), geometry);
        QCOMPARE(widget->isVisible(), visible);
        QCOMPARE(widget->isEnabled(), enabled);
        QString shown;
        if (auto *label = qobject_cast<QLabel *>(widget))
            shown = label->text();
        else if (auto *edit = qobject_cast<QLineEdit *>(widget))
            shown = edit->text();
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            shown = button->text();
        else if (auto *memo = qobject_cast<QPlainTextEdit *>(widget))
            shown = memo->toPlainText();
        QCOMPARE(shown, text);
    }

    void controlDetails()
    {
        TNorvelMain window;
        showAndActivate(window);
        auto *cbBackup = control<QCheckBox>(window, "cbBackup");
        QVERIFY(!cbBackup->isChecked());
        auto *pBar = control<QProgressBar>(window, "pBar");
        QCOMPARE(pBar->minimum(), 0);
        QCOMPARE(pBar->maximum(), 100);

        // The memo wraps long lines, shows no scroll bars and can be edited.
        auto *memErr = control<QPlainTextEdit>(window, "memErr");
        QCOMPARE(memErr->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(memErr->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(memErr->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QVERIFY(!memErr->isReadOnly());
        typeInto(memErr, QStringLiteral("abc def"));
        QCOMPARE(memErr->toPlainText(), QStringLiteral("abc def"));
        memErr->setPlainText(QString(400, u'7').replace(50, 1, u' '));
        QVERIFY(!memErr->verticalScrollBar()->isVisible());
        QVERIFY(!memErr->horizontalScrollBar()->isVisible());
        QVERIFY(memErr->document()->firstBlock().layout()->lineCount() > 1);

        // The check box's text is red on the screen (while it can be used).
        const QImage image = cbBackup->grab().toImage();
        int red = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                red += c.red() > 200 && c.green() < 90 && c.blue() < 90;
            }
        }
        QVERIFY2(red > 30, qPrintable(QString::number(red)));
    }

    // The focus starts on the check box; Tab follows the order check box, close, start (when it can
    // be used), length, memo, and leaves the memo instead of typing a tab into it.
    void tabOrder_data()
    {
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("before the confirmation") << false << QStringList{"btExit", "edLen", "memErr", "cbBackup"};
        QTest::newRow("after it") << true << QStringList{"btExit", "btLTAdd", "edLen", "memErr", "cbBackup"};
    }
    void tabOrder()
    {
        QFETCH(bool, confirmed);
        QFETCH(QStringList, order);
        TNorvelMain window;
        showAndActivate(window);
        QCOMPARE(QApplication::focusWidget(), control<QCheckBox>(window, "cbBackup"));
        if (confirmed)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(control<QCheckBox>(window, "cbBackup")->isChecked(), confirmed);
        QStringList visited;
        for (qsizetype i = 0; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited, order);
        QCOMPARE(control<QPlainTextEdit>(window, "memErr")->toPlainText(), QString());
    }

    // The start button can be used exactly while the backup is confirmed, however often the user
    // changes his mind, with the mouse or with the space bar.
    void backupConfirmationEnablesStart_data()
    {
        QTest::addColumn<bool>("keyboard");
        QTest::addColumn<int>("clicks");
        for (const bool keyboard : {false, true}) {
            for (const int clicks : {1, 2, 3, 4}) {
                QTest::addRow("%s, %d click(s)", keyboard ? "space bar" : "mouse", clicks) << keyboard << clicks;
            }
        }
    }
    void backupConfirmationEnablesStart()
    {
        QFETCH(bool, keyboard);
        QFETCH(int, clicks);
        TNorvelMain window;
        showAndActivate(window);
        auto *cbBackup = control<QCheckBox>(window, "cbBackup");
        auto *btLTAdd = control<QPushButton>(window, "btLTAdd");
        MessageBoxWatcher boxes;

        // Before: pressing the start button does nothing (no run, so no message either).
        QTest::mouseClick(btLTAdd, Qt::LeftButton);
        QVERIFY(!control<QProgressBar>(window, "pBar")->isVisible());

        for (int i = 1; i <= clicks; ++i) {
            if (keyboard)
                QTest::keyClick(cbBackup, Qt::Key_Space);
            else
                QTest::mouseClick(cbBackup, Qt::LeftButton);
            const bool checked = i % 2 == 1;
            QCOMPARE(cbBackup->isChecked(), checked);
            QCOMPARE(btLTAdd->isEnabled(), checked);
        }
        // Unconfirmed, the start does nothing even when its handler is reached some other way.
        if (!cbBackup->isChecked())
            QVERIFY(QMetaObject::invokeMethod(&window, "btLTAddClick"));
        QTest::qWait(60);
        QCOMPARE(boxes.count(), 0);
        QVERIFY(!control<QProgressBar>(window, "pBar")->isVisible());
    }

    // "关闭" closes the window, the program's only one, which ends the program's message loop.
    void closeButtonEndsTheProgram()
    {
        TNorvelMain window;
        showAndActivate(window);
        QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
        QTimer::singleShot(0, &window, [&] { QTest::mouseClick(control<QPushButton>(window, "btExit"), Qt::LeftButton); });
        QTimer giveUp;
        giveUp.setSingleShot(true);
        connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        giveUp.start(5000);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!window.isVisible());
        QCOMPARE(lastClosed.count(), 1);
    }

    // A complete run started from the window: progress, result lines after what the memo held,
    // the final message, the done state, and the tables as the rules predict.
    void completeRun()
    {
        const model::Library before = sampleLibrary();
        createTables(before);
        OpenLibDB connection(m_db->connectionString());
        TNorvelMain window;
        showAndActivate(window);
        auto *memErr = control<QPlainTextEdit>(window, "memErr");
        typeInto(memErr, QStringLiteral("note"));
        PaintedValues painted(control<QProgressBar>(window, "pBar"));
        MessageBoxWatcher boxes;

        confirmAndStart(window);
        QTRY_COMPARE(boxes.count(), 1);

        const MessageBoxWatcher::Box &box = boxes.boxes().first();
        QCOMPARE(box.title, QStringLiteral("提示信息"));
        QCOMPARE(box.text, QStringLiteral("处理完成！"));
        QCOMPARE(box.icon, QMessageBox::Information);
        QCOMPARE(box.buttons.size(), 1);

        const model::Outcome predicted = model::run(before, 9);
        QCOMPARE(predicted.collisions(), (QStringList{"1", "12"}));
        const model::Library after = tables();
        QCOMPARE(model::canonicalReaders(after.readers), model::canonicalReaders(predicted.after.readers));
        QCOMPARE(model::canonicalLoans(after.loans), model::canonicalLoans(predicted.after.loans));
        QCOMPARE(memErr->toPlainText().split(u'\n'),
                 (QStringList{"note", "以下条码修改后会与现有的条码重复,因此系统没有改动,请手工修改:", " 1 12"}));

        // The bar was on the screen with each pass's start (n * 8) and the position after its
        // collision, for the lengths 1 to 4 that occur.
        QCOMPARE(painted.values, (QList<int>{0, 8, 9, 16, 17, 24, 32}));

        // Done: only the close button and the edit fields can still be used.
        auto *cbBackup = control<QCheckBox>(window, "cbBackup");
        auto *btLTAdd = control<QPushButton>(window, "btLTAdd");
        QVERIFY(!control<QProgressBar>(window, "pBar")->isVisible());
        QVERIFY(!btLTAdd->isEnabled());
        QVERIFY(!cbBackup->isEnabled());
        QVERIFY(cbBackup->isChecked());
        QVERIFY(control<QPushButton>(window, "btExit")->isEnabled());
        QTest::mouseClick(cbBackup, Qt::LeftButton);
        QTest::mouseClick(btLTAdd, Qt::LeftButton);
        QVERIFY(cbBackup->isChecked());
        QTest::qWait(60);
        QCOMPARE(boxes.count(), 1);
        typeInto(control<QLineEdit>(window, "edLen"), QStringLiteral("12"));
        QCOMPARE(control<QLineEdit>(window, "edLen")->text(), QStringLiteral("12"));
        QTest::keyClick(memErr, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(memErr, QStringLiteral(" ok"));
        QVERIFY(memErr->toPlainText().endsWith(QStringLiteral(" 1 12 ok")));
        QTest::mouseClick(control<QPushButton>(window, "btExit"), Qt::LeftButton);
        QVERIFY(!window.isVisible());
    }

    void runWithoutCollisions() { padSmallLibrary(); }

    // Every run from the window is kept in the journal, as norvel-pad's are; a journal that cannot
    // be written changes nothing the window shows. The settings' ALSO pads another table's column
    // with the loans, its values recorded too.
    void journalAndOtherColumns_data()
    {
        QTest::addColumn<bool>("writable");
        QTest::newRow("journal written") << true;
        QTest::newRow("journal not writable") << false;
    }
    void journalAndOtherColumns()
    {
        QFETCH(bool, writable);
        QTemporaryDir dir;
        const QString journal = dir.filePath(QStringLiteral("journal"));
        if (!writable) {
            QFile blocker(journal);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        qputenv("NORVEL_JOURNAL_DIR", QFile::encodeName(journal));
        SettingsDir settings;
        settings.writeLibFile("[General]\nODBCNAME=LibODBC\nALSO=lib_fine.fi_card\n");
        padSmallLibrary({QStringLiteral("drop table if exists lib_fine"), QStringLiteral("create table lib_fine (fi_card varchar(20))"),
                         QStringLiteral("insert into lib_fine values ('7'), ('9')")});
        qputenv("NORVEL_JOURNAL_DIR", QFile::encodeName(m_journal.path()));
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(m_db->rows(QStringLiteral("select fi_card from lib_fine order by fi_card")),
                 (QList<QStringList>{{"000007"}, {"000009"}}));
        m_db->exec({QStringLiteral("drop table lib_fine")});
        if (!writable)
            return;
        const QStringList manifests = QDir(journal).entryList({QStringLiteral("*.run")}, QDir::Files);
        QCOMPARE(manifests.size(), 1);
        QFile file(QDir(journal).filePath(manifests.first()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const std::optional<RunManifest> manifest = RunManifest::parse(file.readAll());
        QVERIFY(manifest);
        QCOMPARE(manifest->state, RunManifest::State::Applied);
        QCOMPARE(manifest->length, 6);
        QCOMPARE(manifest->dataSource, QStringLiteral("LibODBC"));
        QCOMPARE(manifest->alsoColumns, QStringList{QStringLiteral("lib_fine.fi_card")});
        // Reader 7 with its loan, loan 8 alone, and the other column's values 7 and 9.
        QCOMPARE(manifest->sha256, RunManifest::sha256Of(QDir(journal).filePath(manifest->record)));
        QFile record(QDir(journal).filePath(manifest->record));
        QVERIFY(record.open(QIODevice::ReadOnly));
        const QByteArray rows = record.readAll();
        QCOMPARE(manifest->rows, 4);
        QVERIFY2(rows.contains("\r\n7,000007,随证号变更,1,读者\r\n8,000008,,1,仅见于借阅记录\r\n") && rows.contains("\r\n7,000007,,1,表lib_fine.fi_card\r\n")
                     && rows.contains("\r\n9,000009,,1,表lib_fine.fi_card\r\n"),
                 rows.constData());
    }

    // A run that fails: the error box, the window as it was when the error arose (progress bar
    // shown, start button and check box usable, memo as the user left it), the tables untouched.
    void failedRun_data()
    {
        QTest::addColumn<QString>("length");
        QTest::addColumn<QStringList>("sabotage");   // SQL run once the window is open
        QTest::addColumn<QString>("error");          // what the box says (a part of it)
        QTest::newRow("statement fails in the third pass")
            << "9"
            << QStringList{QStringLiteral("create function boom() returns trigger language plpgsql as $$ begin "
                                          "if length(rtrim(old.pe_id)) = 3 then raise exception 'boom in pass 3'; "
                                          "end if; return new; end $$"),
                           QStringLiteral("create trigger boom before update of pe_id on lib_people for each row "
                                          "execute function boom()")}
            << "boom in pass 3";
        QTest::newRow("loans table gone") << "9" << QStringList{QStringLiteral("drop table lib_jieshu")} << "lib_jieshu";
        QTest::newRow("length not a number") << "9a" << QStringList{} << "'9a' is not a valid integer value.";
    }
    void failedRun()
    {
        QFETCH(QString, length);
        QFETCH(QStringList, sabotage);
        QFETCH(QString, error);
        const model::Library before = sampleLibrary();
        createTables(before);
        OpenLibDB connection(m_db->connectionString());
        TNorvelMain window;
        showAndActivate(window);
        m_db->exec(sabotage);
        model::Library expected = before;
        if (!sabotage.filter(QStringLiteral("drop table lib_jieshu")).isEmpty())
            expected.loans.clear();
        auto *memErr = control<QPlainTextEdit>(window, "memErr");
        typeInto(memErr, QStringLiteral("note"));
        typeInto(control<QLineEdit>(window, "edLen"), length);
        MessageBoxWatcher boxes;

        confirmAndStart(window);
        QTRY_COMPARE(boxes.count(), 1);
        QTest::qWait(60);
        QCOMPARE(boxes.count(), 1);

        const MessageBoxWatcher::Box &box = boxes.boxes().first();
        QCOMPARE(box.title, QStringLiteral("Norvel"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QVERIFY2(box.text.contains(error), qPrintable(box.text));
        QCOMPARE(box.buttons.size(), 1);

        QVERIFY(control<QProgressBar>(window, "pBar")->isVisible());
        QVERIFY(control<QPushButton>(window, "btLTAdd")->isEnabled());
        QVERIFY(control<QCheckBox>(window, "cbBackup")->isEnabled());
        QVERIFY(control<QCheckBox>(window, "cbBackup")->isChecked());
        QCOMPARE(memErr->toPlainText(), QStringLiteral("note"));
        QCOMPARE(control<QLineEdit>(window, "edLen")->text(), length);
        checkUnchanged(tables(), expected);
    }

    // Clicks and keys made while the run blocks the window are handled only once it is over, while
    // the box that ends every run is up: they must not act (no closing, no unchecking, no second
    // run from a still usable start button after an error).
    void inputMadeDuringTheRunDoesNotAct_data()
    {
        QTest::addColumn<bool>("fails");
        QTest::newRow("completed run") << false;
        QTest::newRow("failed run") << true;
    }
    void inputMadeDuringTheRunDoesNotAct()
    {
        QFETCH(bool, fails);
        const model::Library before = sampleLibrary();
        createTables(before);
        OpenLibDB connection(m_db->connectionString());
        TNorvelMain window;
        showAndActivate(window);
        if (fails)
            typeInto(control<QLineEdit>(window, "edLen"), QStringLiteral("x"));
        auto *cbBackup = control<QCheckBox>(window, "cbBackup");
        auto *btLTAdd = control<QPushButton>(window, "btLTAdd");
        auto *btExit = control<QPushButton>(window, "btExit");
        auto *memErr = control<QPlainTextEdit>(window, "memErr");

        // Once the run is under way, the user clicks the check box, the start button, into the memo
        // and the close button, and presses the space bar and a letter. The window system queues
        // all of it until the event loop runs again.
        bool queued = false;
        PaintedValues painted(control<QProgressBar>(window, "pBar"));
        painted.onFirstPaint = [&] {
            QMetaObject::invokeMethod(
                &window,
                [&] {
                    QWindow *handle = window.windowHandle();
                    for (const QWidget *target : std::initializer_list<const QWidget *>{cbBackup, btLTAdd, memErr, btExit})
                        windowSystemClick(handle, target->geometry().center());
                    QTest::keyClick(handle, Qt::Key_Space);
                    QTest::keyClick(handle, Qt::Key_Z);
                },
                Qt::QueuedConnection);
            queued = true;
        };
        MessageBoxWatcher boxes;
        // The user reads the box before answering it: what was queued has been handled by then.
        boxes.setInspector([](QMessageBox *) { QCoreApplication::sendPostedEvents(); });

        confirmAndStart(window);
        QTRY_COMPARE(boxes.count(), 1);
        QVERIFY(queued);
        QTest::qWait(100);
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.boxes().first().icon, fails ? QMessageBox::Critical : QMessageBox::Information);
        QVERIFY(window.isVisible());
        QVERIFY(cbBackup->isChecked());
        QCOMPARE(btLTAdd->isEnabled(), fails);
        QVERIFY(!memErr->toPlainText().contains(u'z'));
        if (fails)
            checkUnchanged(tables(), before);
        else
            QCOMPARE(memErr->toPlainText().count(QStringLiteral("以下条码")), 1);
    }
};

NORVEL_WIDGET_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
