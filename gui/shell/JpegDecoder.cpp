#include "shell/JpegDecoder.h"

#include <csetjmp>
#include <cstdio>   // jpeglib.h needs FILE and size_t declared first
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

// libjpeg reports a fatal error through error_exit, which by default prints the message and
// calls exit(). Here it jumps back (longjmp) to the decoding step that called libjpeg. That step
// is a function that owns nothing with a destructor, so the jump skips no clean-up; libjpeg's own
// memory goes with jpeg_destroy_decompress in ~Decompression, whatever happened.

namespace {

// libjpeg's error manager followed by the jump point and the message text.
struct ErrorManager
{
    jpeg_error_mgr pub;   // first member: libjpeg only sees this part
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void errorExit(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Level -1 is a warning: libjpeg uses it for corrupt or truncated data (and then goes on with a
// padded picture). A damaged splash picture is an error. Higher levels are trace messages.
void emitMessage(j_common_ptr cinfo, int level)
{
    if (level < 0)
        errorExit(cinfo);
}

// The data source: the whole picture in one buffer.
struct MemorySource
{
    jpeg_source_mgr pub;   // first member
    const JOCTET *data;
    size_t size;
};

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

// Called only once every byte has been consumed: the stream ends before its end marker.
boolean fillInputBuffer(j_decompress_ptr cinfo)
{
    cinfo->err->msg_code = JWRN_JPEG_EOF;
    (*cinfo->err->emit_message)(reinterpret_cast<j_common_ptr>(cinfo), -1);   // does not return
    // The library's own behaviour, should a warning ever return: an end marker.
    static const JOCTET endOfImage[2] = {0xFF, JPEG_EOI};
    cinfo->src->next_input_byte = endOfImage;
    cinfo->src->bytes_in_buffer = sizeof endOfImage;
    return TRUE;
}

void skipInputData(j_decompress_ptr cinfo, long count)
{
    if (count <= 0)
        return;
    jpeg_source_mgr *src = cinfo->src;
    if (static_cast<unsigned long>(count) > src->bytes_in_buffer) {
        src->bytes_in_buffer = 0;
        fillInputBuffer(cinfo);
        return;
    }
    src->next_input_byte += count;
    src->bytes_in_buffer -= static_cast<size_t>(count);
}

// Owns libjpeg's state for one picture.
struct Decompression
{
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    MemorySource source;

    explicit Decompression(QByteArrayView data)
    {
        std::memset(&cinfo, 0, sizeof cinfo);   // jpeg_destroy_decompress is safe on it from now on
        cinfo.err = jpeg_std_error(&err.pub);
        err.pub.error_exit = errorExit;
        err.pub.emit_message = emitMessage;
        err.message[0] = '\0';

        source.pub.init_source = initSource;
        source.pub.fill_input_buffer = fillInputBuffer;
        source.pub.skip_input_data = skipInputData;
        source.pub.resync_to_restart = jpeg_resync_to_restart;
        source.pub.term_source = termSource;
        source.data = reinterpret_cast<const JOCTET *>(data.data());
        source.size = static_cast<size_t>(data.size());
        source.pub.next_input_byte = source.data;
        source.pub.bytes_in_buffer = source.size;
    }
    ~Decompression() { jpeg_destroy_decompress(&cinfo); }
    Decompression(const Decompression &) = delete;
    Decompression &operator=(const Decompression &) = delete;

    j_common_ptr common() { return reinterpret_cast<j_common_ptr>(&cinfo); }
};

// The decoding steps. Each returns false after a libjpeg error, whose text is then in
// d.err.message. Nothing here may have a destructor (see the top of this file).

bool readHeader(Decompression &d)
{
    if (setjmp(d.err.jump))
        return false;
    jpeg_create_decompress(&d.cinfo);
    d.cinfo.src = &d.source.pub;
    jpeg_read_header(&d.cinfo, TRUE);
    return true;
}

bool startDecompression(Decompression &d)
{
    if (setjmp(d.err.jump))
        return false;
    jpeg_start_decompress(&d.cinfo);   // a progressive picture's scans are all read here
    return true;
}

bool readScanlines(Decompression &d, unsigned char *bits, qsizetype bytesPerLine)
{
    if (setjmp(d.err.jump))
        return false;
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        JSAMPROW row = bits + static_cast<qsizetype>(d.cinfo.output_scanline) * bytesPerLine;
        if (jpeg_read_scanlines(&d.cinfo, &row, 1) != 1) {
            std::strcpy(d.err.message, "No progress reading the picture");
            return false;
        }
    }
    jpeg_finish_decompress(&d.cinfo);   // the rest of the stream, up to its end marker
    return true;
}

JpegPicture failure(const QString &reason)
{
    return {QImage(), QStringLiteral("The JPEG picture cannot be decoded: %1.").arg(reason)};
}

JpegPicture failure(const Decompression &d)
{
    return failure(QString::fromLatin1(d.err.message));
}

} // namespace

JpegPicture decodeJpeg(QByteArrayView data)
{
    if (data.isEmpty())
        return failure(QStringLiteral("there is no data"));

    Decompression d(data);
    if (!readHeader(d))
        return failure(d);

    QImage::Format format;
    int components;
    switch (d.cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        d.cinfo.out_color_space = JCS_GRAYSCALE;
        format = QImage::Format_Grayscale8;
        components = 1;
        break;
    case JCS_YCbCr:
    case JCS_RGB:
        d.cinfo.out_color_space = JCS_RGB;
        format = QImage::Format_RGB888;
        components = 3;
        break;
    default:
        return failure(QStringLiteral("its colour space (%1) is not supported").arg(int(d.cinfo.jpeg_color_space)));
    }
    const qint64 pixels = qint64(d.cinfo.image_width) * qint64(d.cinfo.image_height);
    if (pixels > JpegMaxPixels)
        return failure(QStringLiteral("it claims %1 x %2 pixels, more than a picture may have")
                           .arg(d.cinfo.image_width)
                           .arg(d.cinfo.image_height));

    if (!startDecompression(d))
        return failure(d);
    if (d.cinfo.output_components != components)
        return failure(QStringLiteral("unexpected number of colour components (%1)").arg(d.cinfo.output_components));

    QImage image(int(d.cinfo.output_width), int(d.cinfo.output_height), format);
    if (image.isNull())
        return failure(QStringLiteral("no memory for %1 x %2 pixels").arg(d.cinfo.output_width).arg(d.cinfo.output_height));
    if (!readScanlines(d, image.bits(), image.bytesPerLine()))
        return failure(d);
    return {image, QString()};
}
