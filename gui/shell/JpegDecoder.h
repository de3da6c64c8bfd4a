#pragma once

#include <QByteArrayView>
#include <QImage>
#include <QString>

// Decodes a JPEG picture (baseline or progressive) held in memory with libjpeg.
//
// Damaged data is an error, not a picture: libjpeg by itself only warns about a truncated or
// corrupt stream and pads the picture with grey, so every warning ends the decoding here. A
// colour picture becomes QImage::Format_RGB888, a greyscale one QImage::Format_Grayscale8.
struct JpegPicture
{
    QImage image;    // null when decoding failed
    QString error;   // why it failed; empty on success

    bool ok() const { return error.isEmpty(); }
};

JpegPicture decodeJpeg(QByteArrayView data);

// The largest picture decodeJpeg accepts, in pixels (a damaged header can claim any size).
inline constexpr qint64 JpegMaxPixels = qint64(64) * 1024 * 1024;
