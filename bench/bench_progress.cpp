// The main window's progress bar during a run with many collisions: every collision row reports a
// position, and the window repaints the bar at most every few tens of milliseconds. Prints how many
// positions the run reported, how often the bar was painted, what the run took through the window,
// and what one repaint of the bar costs (so what repainting every position would have added).
// Checks nothing.
//
//   bench_progress [collisions]      (default 100000)
//
// Needs the private PostgreSQL server of the tests (source /tmp/norvel-dev/env.sh, or run under
// scripts/test's environment). Offscreen unless QT_QPA_PLATFORM says otherwise (e.g. xcb on Xvfb).

#include "connection/LibConnection.h"
#include "forms/frmNorvelMain.h"
#include "shell/NorvelApplication.h"
#include "support/MessageBoxWatcher.h"
#include "support/TestEnvironment.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QSqlError>
#include <QTest>
#include <QWindow>

#include <cstdio>

namespace {

class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

double ms(const QElapsedTimer &t)
{
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

// Readers "1" .. "n", each with its padded twin already there: every short reader collides.
void fillLibrary(const testenv::PgDatabase &db, int collisions)
{
    db.exec({QStringLiteral("create table lib_people (pe_id varchar(20), pe_passwd varchar(20), pe_name varchar(20))"),
             QStringLiteral("create table lib_jieshu (js_id integer, js_libcard varchar(20), js_book varchar(20))"),
             QStringLiteral("insert into lib_people select g::text, g::text, 'r' from generate_series(1, %1) g").arg(collisions),
             QStringLiteral("insert into lib_people select lpad(g::text, 9, '0'), 'x', 't' from generate_series(1, %1) g")
                 .arg(collisions),
             QStringLiteral("insert into lib_jieshu select g, (g % %1 + 1)::text, 'b' from generate_series(1, 1000) g")
                 .arg(collisions),
             QStringLiteral("analyze")});
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    NorvelApplication app(argc, argv);
    const int collisions = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    QString why;
    if (!testenv::haveDatabaseServer(&why)) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 2;
    }
    std::printf("platform %s, %d collisions\n", qPrintable(QGuiApplication::platformName()), collisions);

    testenv::PgDatabase db;
    fillLibrary(db, collisions);
    {
        QSqlDatabase lib = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), LibConnection::DatabaseName);
        lib.setDatabaseName(db.connectionString());
        if (!lib.open()) {
            std::fprintf(stderr, "%s\n", qPrintable(lib.lastError().text()));
            return 2;
        }
    }
    {
        TNorvelMain window;
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            return 2;
        auto *bar = window.findChild<QProgressBar *>(QStringLiteral("pBar"));
        PaintCounter counter;
        bar->installEventFilter(&counter);

        // The run, from the click to the final message.
        MessageBoxWatcher boxes;
        QElapsedTimer run;
        double runMs = 0;
        boxes.setInspector([&](QMessageBox *) { runMs = ms(run); });
        QTest::mouseClick(window.findChild<QCheckBox *>(QStringLiteral("cbBackup")), Qt::LeftButton);
        run.start();
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("btLTAdd")), Qt::LeftButton);
        const int passes = static_cast<int>(QString::number(collisions).size());   // one per length
        std::printf("  run through the window   %9.1f ms\n", runMs);
        std::printf("  positions reported       %9d\n", collisions + passes);
        std::printf("  bar painted              %9d times\n", counter.paints);

        // One repaint of the bar, as repainting every position would have cost.
        bar->show();
        constexpr int Repaints = 3000;
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < Repaints; ++i) {
            bar->setValue(i % 101);
            bar->repaint();
        }
        QGuiApplication::sync();
        const double each = ms(t) / Repaints;
        std::printf("  one bar repaint          %9.3f ms -> every position repainted: +%.0f ms\n", each,
                    each * (collisions + passes));
    }
    QSqlDatabase::database(LibConnection::DatabaseName, false).close();
    QSqlDatabase::removeDatabase(LibConnection::DatabaseName);
    return 0;
}
