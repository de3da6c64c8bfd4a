#include "data/DbWaitCursor.h"

#include <QCursor>
#include <QGuiApplication>
#include <QTimer>

namespace {

bool g_cursorShown = false;

QTimer &resetTimer()
{
    static QTimer *timer = [] {
        auto *t = new QTimer(QCoreApplication::instance());
        t->setSingleShot(true);
        t->setInterval(50);
        QObject::connect(t, &QTimer::timeout, [] {
            if (g_cursorShown) {
                QGuiApplication::restoreOverrideCursor();
                g_cursorShown = false;
            }
        });
        return t;
    }();
    return *timer;
}

} // namespace

DbWaitCursor::DbWaitCursor()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    resetTimer().stop();
    if (!g_cursorShown) {
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        g_cursorShown = true;
    }
}

DbWaitCursor::~DbWaitCursor()
{
    if (g_cursorShown)
        resetTimer().start();
}
