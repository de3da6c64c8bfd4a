// The JPEG decoder: the program's splash picture and pictures of known content decode to the
// right pixels; damaged or foreign data is an error with a readable reason, never a padded
// picture, and never ends the process.

#include "shell/Artwork.h"
#include "shell/JpegDecoder.h"

#include <QBuffer>
#include <QImageWriter>
#include <QTest>

#include <malloc.h>

namespace {

// A JPEG's segments: where each scan's entropy-coded data lies, and where its frame header is.
struct JpegLayout
{
    qsizetype frameHeader = -1;                     // offset of the SOFn marker
    QList<std::pair<qsizetype, qsizetype>> scans;   // [begin, end) of each scan's coded data
};

JpegLayout layoutOf(const QByteArray &jpeg)
{
    JpegLayout layout;
    auto byte = [&](qsizetype i) { return static_cast<unsigned char>(jpeg.at(i)); };
    qsizetype i = 2;   // after SOI
    while (i + 4 <= jpeg.size() && byte(i) == 0xFF) {
        const unsigned char marker = byte(i + 1);
        if (marker == 0xD9)
            break;
        const qsizetype length = byte(i + 2) << 8 | byte(i + 3);
        if ((marker >= 0xC0 && marker <= 0xC2) && layout.frameHeader < 0)
            layout.frameHeader = i;
        i += 2 + length;
        if (marker == 0xDA) {   // a scan: coded data up to the next marker that is not a stuffed 0 or RSTn
            const qsizetype begin = i;
            while (i + 1 < jpeg.size()
                   && !(byte(i) == 0xFF && byte(i + 1) != 0x00 && !(byte(i + 1) >= 0xD0 && byte(i + 1) <= 0xD7)))
                ++i;
            layout.scans.append({begin, i});
        }
    }
    return layout;
}

QByteArray encoded(const QImage &image, bool progressive)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(100);
    writer.setProgressiveScanWrite(progressive);
    if (!writer.write(image))
        qFatal("cannot encode a test picture: %s", qPrintable(writer.errorString()));
    return data;
}

// Four blocks of plain colour: a swapped channel or a wrong stride shows at once.
QImage colourBlocks()
{
    QImage image(64, 64, QImage::Format_RGB888);
    const QColor colours[] = {QColor(220, 30, 30), QColor(30, 200, 40), QColor(20, 40, 210), QColor(240, 220, 30)};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixelColor(x, y, colours[(y >= 32) * 2 + (x >= 32)]);
    return image;
}

// The blocks without their edges, where subsampled colour bleeds across.
QList<QRect> blockInsides()
{
    return {QRect(4, 4, 24, 24), QRect(36, 4, 24, 24), QRect(4, 36, 24, 24), QRect(36, 36, 24, 24)};
}

QImage greyRamp()
{
    QImage image(40, 24, QImage::Format_Grayscale8);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 6, x * 6, x * 6));
    return image;
}

// The largest difference of one colour channel between two pictures of the same size, within
// the given areas (all of the picture when there are none).
int largestDifference(const QImage &a, const QImage &b, QList<QRect> areas)
{
    const QImage left = a.convertToFormat(QImage::Format_RGB888);
    const QImage right = b.convertToFormat(QImage::Format_RGB888);
    if (areas.isEmpty())
        areas.append(left.rect());
    int largest = 0;
    for (const QRect &area : areas) {
        for (int y = area.top(); y <= area.bottom(); ++y) {
            const uchar *p = left.constScanLine(y);
            const uchar *q = right.constScanLine(y);
            for (int x = area.left() * 3; x < (area.right() + 1) * 3; ++x)
                largest = qMax(largest, qAbs(int(p[x]) - int(q[x])));
        }
    }
    return largest;
}

size_t bytesInUse()
{
    return mallinfo2().uordblks;
}

} // namespace

class TestJpegDecoder : public QObject
{
    Q_OBJECT

    QByteArray m_artwork;

private slots:
    void initTestCase()
    {
        m_artwork = Artwork::splashPicture();
        QVERIFY(!m_artwork.isEmpty());
        QVERIFY(layoutOf(m_artwork).scans.size() > 1);   // progressive: more than one scan
    }

    void decodes_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QImage>("expected");
        QTest::addColumn<QList<QRect>>("areas");   // where to compare; empty: everywhere
        QTest::addColumn<int>("tolerance");         // per colour channel

        // Qt's own JPEG reader is an independent decoder of the same picture.
        QImage reference;
        QVERIFY(reference.loadFromData(m_artwork, "JPEG"));
        QCOMPARE(reference.size(), QSize(400, 300));
        QTest::newRow("progressive splash picture") << m_artwork << reference << QList<QRect>() << 2;
        QTest::newRow("baseline colour blocks") << encoded(colourBlocks(), false) << colourBlocks() << blockInsides() << 8;
        QTest::newRow("progressive colour blocks") << encoded(colourBlocks(), true) << colourBlocks() << blockInsides() << 8;
        QTest::newRow("greyscale ramp") << encoded(greyRamp(), true) << greyRamp() << QList<QRect>() << 6;
    }
    void decodes()
    {
        QFETCH(QByteArray, data);
        QFETCH(QImage, expected);
        QFETCH(QList<QRect>, areas);
        QFETCH(int, tolerance);
        const JpegPicture picture = decodeJpeg(data);
        QVERIFY2(picture.ok(), qPrintable(picture.error));
        QCOMPARE(picture.image.size(), expected.size());
        QCOMPARE(picture.image.isGrayscale(), expected.isGrayscale());
        QCOMPARE(picture.image.format(),
                 expected.isGrayscale() ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
        const int difference = largestDifference(picture.image, expected, areas);
        QVERIFY2(difference <= tolerance, qPrintable(QString::number(difference)));
    }

    void fails_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("reason");

        const QByteArray jpeg = m_artwork;
        const JpegLayout layout = layoutOf(jpeg);
        QVERIFY(layout.frameHeader > 0);

        QTest::newRow("empty") << QByteArray() << "there is no data";
        QTest::newRow("not a JPEG") << QByteArray("GIF89a\x01\x00\x01\x00", 10) << "Not a JPEG file";
        QTest::newRow("truncated in the header") << jpeg.left(layout.frameHeader + 6) << "Premature end of JPEG file";
        QTest::newRow("truncated in the first scan")
            << jpeg.left((layout.scans.first().first + layout.scans.first().second) / 2) << "Premature end of JPEG file";
        QTest::newRow("truncated in the last scan")
            << jpeg.left((layout.scans.last().first + layout.scans.last().second) / 2) << "Premature end of JPEG file";
        QTest::newRow("no end marker") << jpeg.chopped(2) << "Premature end of JPEG file";

        // A marker in the middle of coded data cuts the scan short.
        QByteArray cut = jpeg;
        const auto [begin, end] = layout.scans.first();
        cut[(begin + end) / 2] = char(0xFF);
        cut[(begin + end) / 2 + 1] = char(0xD0);
        QTest::newRow("corrupt scan data") << cut << "Corrupt JPEG data";

        QByteArray noWidth = jpeg;
        noWidth[layout.frameHeader + 7] = 0;
        noWidth[layout.frameHeader + 8] = 0;
        QTest::newRow("no width") << noWidth << "Empty JPEG image";

        // 60000 x 60000: within the format's limits, but no splash picture is that large.
        QByteArray huge = jpeg;
        for (int i = 5; i <= 8; i += 2) {
            huge[layout.frameHeader + i] = char(0xEA);
            huge[layout.frameHeader + i + 1] = char(0x60);
        }
        QTest::newRow("claims 60000 x 60000 pixels") << huge << "60000 x 60000 pixels";
    }
    void fails()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, reason);
        const JpegPicture picture = decodeJpeg(data);
        QVERIFY(!picture.ok());
        QVERIFY(picture.image.isNull());
        QVERIFY2(picture.error.startsWith(QStringLiteral("The JPEG picture cannot be decoded: ")), qPrintable(picture.error));
        QVERIFY2(picture.error.contains(reason), qPrintable(picture.error));
    }

    // A failed decoding gives back everything libjpeg had allocated (its progressive picture
    // buffers are as large as the picture). AddressSanitizer builds check this on every test.
    void failuresLeaveNothingAllocated()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the sanitizer's leak check covers this");
#endif
        const QByteArray truncated = m_artwork.chopped(2);
        QVERIFY(!decodeJpeg(truncated).ok());   // first use: lazily allocated state settles
        const size_t before = bytesInUse();
        for (int i = 0; i < 50; ++i)
            QVERIFY(!decodeJpeg(truncated).ok());
        const size_t after = bytesInUse();
        QVERIFY2(after < before + 64 * 1024, qPrintable(QStringLiteral("%1 -> %2 bytes").arg(before).arg(after)));
    }
};

QTEST_MAIN(TestJpegDecoder)
#include "tst_jpegdecoder.moc"
