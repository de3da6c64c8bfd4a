#include "forms/frmFlash.h"
#include "ui_frmFlash.h"

#include "data/StatusText.h"
#include "forms/WindowLook.h"
#include "shell/Artwork.h"
#include "shell/JpegDecoder.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QWindow>

#include <cmath>

namespace {

// How long showFullyDrawn waits at most for the window system to expose the window.
constexpr int ExposeWaitCapMs = 5000;
// The labels' font height, in pixels.
constexpr int LabelPixelSize = 15;

// A label keeps its position and grows, like an auto-sized label, until its whole text fits; it
// never shrinks below its design size.
void fitToText(QLabel *label)
{
    const QSize text = label->fontMetrics().size(Qt::TextSingleLine, label->text());
    label->resize(qMax(label->width(), text.width()), qMax(label->height(), text.height()));
}

} // namespace

TFlash::TFlash(QWidget *parent) : TFlash(Artwork::splashPicture(), parent) {}

TFlash::TFlash(QByteArrayView picture, QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus),
      ui(std::make_unique<Ui::TFlash>()),
      m_surface(new QWidget(this))
{
    ui->setupUi(m_surface);
    m_surface->setObjectName(QStringLiteral("surface"));
    m_surface->setFixedSize(PixelSize);
    m_surface->hide();
    setObjectName(QStringLiteral("TFlash"));
    setWindowTitle(m_surface->windowTitle());
    setAttribute(Qt::WA_ShowWithoutActivating);

    // The window covers PixelSize screen pixels; in Qt's scaled coordinates that is less.
    const qreal ratio = devicePixelRatioF();
    setFixedSize(int(std::ceil(PixelSize.width() / ratio)), int(std::ceil(PixelSize.height() / ratio)));

    for (QLabel *label : {ui->lbView, ui->Label1}) {
        QFont font = label->font();
        font.setPixelSize(LabelPixelSize);
        // Qt drops hinting on scaled screens; asking for the usual kind keeps the glyphs the same
        // at every ratio.
        font.setHintingPreference(QFont::PreferVerticalHinting);
        label->setFont(font);
    }

    const JpegPicture decoded = decodeJpeg(picture);
    if (decoded.ok()) {
        ui->Image1->setPixmap(QPixmap::fromImage(decoded.image));
        ui->Image1->resize(decoded.image.size());
    } else {
        m_pictureError = decoded.error;
        qWarning("Splash picture: %s", qUtf8Printable(decoded.error));
    }
    ui->Image2->setPixmap(Artwork::splashIcon());

    FormCreate();
}

TFlash::~TFlash() = default;

void TFlash::FormCreate()
{
    ui->lbView->setText(StatusText);
    fitToText(ui->lbView);
    fitToText(ui->Label1);
}

QImage TFlash::renderedImage() const
{
    QImage frame(PixelSize, QImage::Format_RGB32);   // device pixel ratio 1: one pixel per screen pixel
    frame.fill(palette().color(QPalette::Window));
    QPainter painter(&frame);
    // The pictures are drawn here, not by their labels: a label scales its picture to the screen's
    // ratio even when it is rendered into a pixmap of ratio 1.
    for (const QLabel *picture : {ui->Image1, ui->Image2})
        painter.drawPixmap(picture->pos(), picture->pixmap());
    for (QLabel *text : {ui->lbView, ui->Label1})
        text->render(&painter, text->pos(), QRegion(), QWidget::DrawChildren);
    return frame;
}

void TFlash::paintEvent(QPaintEvent *)
{
    QImage frame = renderedImage();
    frame.setDevicePixelRatio(devicePixelRatioF());
    QPainter painter(this);
    // At a fractional ratio the window may be a pixel larger than the picture.
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.drawImage(0, 0, frame);
}

void TFlash::showFullyDrawn()
{
    WindowLook::centreOnScreen(this);
    show();

    // Showing and repainting is not enough on X11: until the window system has exposed the
    // window, what is painted may never reach the screen, and under a window manager the window
    // stays black for the whole blocking open. So wait for the exposure (the tick wakes the wait
    // when nothing else happens), then paint, hand it over and wait until the X server has it.
    const QDeadlineTimer deadline(ExposeWaitCapMs);
    QTimer tick;
    tick.start(10);
    while (!(windowHandle() && windowHandle()->isExposed()) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::ExcludeUserInputEvents);
    repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QApplication::sync();
}
