// The connection splash as drawn: its picture 1:1 while the rest of the program is scaled for the
// screen (this test runs at a scale factor of 2), the status text whole and in its 15-pixel
// font, and the texts still there when the picture cannot be decoded.

#include "data/StatusText.h"
#include "forms/frmFlash.h"
#include "shell/Artwork.h"
#include "shell/JpegDecoder.h"
#include "shell/NorvelApplication.h"

#include <QLabel>
#include <QTest>

namespace {

// The bounding box of the pixels in `area` that `match` accepts.
template<typename Match>
QRect pixelsWhere(const QImage &image, const QRect &area, Match match)
{
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (match(image.pixelColor(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

// Blue text, its anti-aliased edges included, over the light picture.
bool isBlue(const QColor &c)
{
    return c.blue() > 200 && c.red() < 150 && c.green() < 150;
}

bool isNavy(const QColor &c)
{
    return c.red() < 40 && c.green() < 40 && c.blue() > 100 && c.blue() < 160;
}

// Where the status text and the name are drawn (their design boxes, with room to grow rightwards).
const QRect StatusArea(16, 50, 300, 30);
const QRect NameArea(330, 20, 70, 25);

} // namespace

class TestFlash : public QObject
{
    Q_OBJECT

private slots:
    void init() { StatusText = StatusConnecting; }

    void pictureAndTextsAreNotScaled()
    {
        // The scaling is in force: an ordinary window of 100 x 50 covers twice that.
        QWidget ordinary;
        ordinary.setFixedSize(100, 50);
        QCOMPARE(ordinary.grab().toImage().size(), QSize(200, 100));

        TFlash flash;
        QVERIFY2(flash.pictureError().isEmpty(), qPrintable(flash.pictureError()));
        QImage shown = flash.grab().toImage().convertToFormat(QImage::Format_RGB888);
        QCOMPARE(shown.size(), QSize(400, 300));
        shown.setDevicePixelRatio(1);   // compared as pixels
        QCOMPARE(shown, flash.renderedImage().convertToFormat(QImage::Format_RGB888));

        // Below the texts and the icon the window shows the picture pixel for pixel.
        const QImage picture = decodeJpeg(Artwork::splashPicture()).image;
        const QRect below(0, 90, 400, 210);
        QCOMPARE(shown.copy(below), picture.copy(below));

        // The status text: 15-pixel glyphs, not 30, and all of it, "..." included, although it is
        // wider than the label's design width of 189 pixels.
        const QRect text = pixelsWhere(shown, StatusArea, isBlue);
        QVERIFY2(text.height() >= 11 && text.height() <= 17, qPrintable(QString::number(text.height())));
        QVERIFY2(text.left() >= 16 && text.left() <= 18, qPrintable(QString::number(text.left())));
        const int textWidth = flash.findChild<QLabel *>(QStringLiteral("lbView"))->fontMetrics().horizontalAdvance(StatusText);
        QVERIFY2(textWidth > 189, qPrintable(QString::number(textWidth)));
        QVERIFY2(text.right() >= 16 + textWidth - 4, qPrintable(QStringLiteral("%1 of %2").arg(text.right()).arg(textWidth)));

        const QRect name = pixelsWhere(shown, NameArea, isNavy);
        QVERIFY2(name.height() >= 8 && name.height() <= 17, qPrintable(QString::number(name.height())));
    }

    void textsWithoutPicture()
    {
        StatusText = QStringLiteral("系统正在初始化");
        TFlash flash(QByteArray("this is not a picture"));
        QVERIFY2(flash.pictureError().contains(QStringLiteral("Not a JPEG file")), qPrintable(flash.pictureError()));
        QCOMPARE(flash.findChild<QLabel *>(QStringLiteral("lbView"))->text(), StatusText);

        const QImage shown = flash.grab().toImage();
        QCOMPARE(shown.size(), QSize(400, 300));
        QVERIFY(!pixelsWhere(shown, StatusArea, isBlue).isEmpty());
        QVERIFY(!pixelsWhere(shown, NameArea, isNavy).isEmpty());
        // A plain background instead of the picture, not a black hole.
        QCOMPARE(shown.pixelColor(200, 200), flash.palette().color(QPalette::Window));
    }
};

int main(int argc, char **argv)
{
    qputenv("QT_SCALE_FACTOR", "2");
    NorvelApplication app(argc, argv);
    TestFlash test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_flash.moc"
