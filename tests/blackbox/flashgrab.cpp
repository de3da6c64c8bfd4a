// Writes the connection splash, with the connecting text, as a PNG the way Qt's offscreen platform
// draws it; the black-box tests compare what the screen shows with it.
//
//   norvel_flashgrab OUTPUT.png

#include "data/StatusText.h"
#include "forms/frmFlash.h"
#include "shell/NorvelApplication.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    NorvelApplication app(argc, argv);
    StatusText = StatusConnecting;
    TFlash flash;
    if (!flash.pictureError().isEmpty())
        return 1;
    const QImage image = flash.grab().toImage();
    if (image.size() != TFlash::PixelSize || !image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
