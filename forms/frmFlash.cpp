#include "forms/frmFlash.h"
#include "ui_frmFlash.h"

#include "common/unGlobal.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

TFlash::TFlash(QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint), ui(std::make_unique<Ui::TFlash>())
{
    ui->setupUi(this);
    setFixedSize(400, 300);
    FormCreate();
}

TFlash::~TFlash() = default;

void TFlash::FormCreate()
{
    ui->lbView->setText(StatusText);
}

void TFlash::showFullyDrawn()
{
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    // Showing and repainting is not enough on X11: wait until the window is exposed, then paint
    // and flush, or a window manager shows a black frame for the whole blocking open.
    const QDeadlineTimer deadline(2000);
    while (!(windowHandle() && windowHandle()->isExposed()) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    repaint();
    QCoreApplication::processEvents();
    QApplication::sync();
}
