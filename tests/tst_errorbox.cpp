// The application's central error handler: the box's caption, icon, button and text rule, and that
// the program goes on after an error, whether a handler raised it or it escaped into the event loop.

#include "platform/Exceptions.h"
#include "shell/NorvelApplication.h"
#include "support/MessageBoxWatcher.h"

#include <QPushButton>
#include <QTest>

namespace {

// An object whose event handling raises, as a handler that forgot nothing but met an error would.
class Raiser : public QObject
{
public:
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::User)
            throw EDatabaseError(QStringLiteral("connection lost"));
        return QObject::event(e);
    }
};

} // namespace

class TestErrorBox : public QObject
{
    Q_OBJECT

private slots:
    void fullStopRule_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("empty") << "" << "";
        QTest::newRow("letter") << "Failed" << "Failed.";
        QTest::newRow("digit") << "error 42" << "error 42.";
        QTest::newRow("slash") << "a/" << "a/.";
        QTest::newRow("colon") << "reason:" << "reason:.";
        QTest::newRow("question mark") << "why?" << "why?.";
        QTest::newRow("underscore") << "x_" << "x_.";
        QTest::newRow("chinese") << QStringLiteral("出错") << QStringLiteral("出错.");
        QTest::newRow("full stop") << "done." << "done.";
        QTest::newRow("blank") << "trailing " << "trailing ";
        QTest::newRow("quote") << "'9x' is not a valid integer value'" << "'9x' is not a valid integer value'";
        QTest::newRow("closing parenthesis") << "(state 42)" << "(state 42)";
        QTest::newRow("comma") << "a," << "a,";
        QTest::newRow("minus") << "a-" << "a-";
        QTest::newRow("exclamation") << "stop!" << "stop!";
        QTest::newRow("newline") << "line\n" << "line\n";
    }
    void fullStopRule()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(NorvelApplication::errorBoxText(message), shown);
    }

    void handlerErrorShowsBoxAndProgramGoesOn()
    {
        MessageBoxWatcher watcher;
        QPushButton button("x");
        int after = 0;
        const auto raise = [] { throw EConvertError(QStringLiteral("'abc' is not a valid integer value")); };
        connect(&button, &QPushButton::clicked, [&] {
            NorvelApplication::handle([&] {
                raise();
                ++after;   // the rest of the handler is skipped
            });
        });
        button.show();
        QTest::mouseClick(&button, Qt::LeftButton);
        QTRY_COMPARE(watcher.count(), 1);
        const auto box = watcher.boxes().first();
        QCOMPARE(box.title, QStringLiteral("Norvel"));
        QCOMPARE(box.text, QStringLiteral("'abc' is not a valid integer value."));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.buttons, QStringList{QStringLiteral("确定")});
        QCOMPARE(after, 0);

        // Still working: the next click is handled again.
        QTest::mouseClick(&button, Qt::LeftButton);
        QTRY_COMPARE(watcher.count(), 2);
    }

    void errorEscapingIntoTheEventLoopIsShownAfterwards()
    {
        MessageBoxWatcher watcher;
        Raiser raiser;
        QCoreApplication::postEvent(&raiser, new QEvent(QEvent::User));
        QTRY_COMPARE(watcher.count(), 1);
        QCOMPARE(watcher.boxes().first().title, QStringLiteral("Norvel"));
        QCOMPARE(watcher.boxes().first().text, QStringLiteral("connection lost."));
        QCOMPARE(watcher.boxes().first().icon, QMessageBox::Critical);
    }

    void applicationTitle()
    {
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Norvel"));
    }
};

NORVEL_WIDGET_TEST_MAIN(TestErrorBox)
#include "tst_errorbox.moc"
