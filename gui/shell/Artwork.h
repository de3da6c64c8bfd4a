#pragma once

#include <QByteArray>
#include <QIcon>
#include <QPixmap>

// The program's own artwork, compiled in from resources/ (made by scripts/make-artwork).
namespace Artwork {

// The splash picture: a progressive colour JPEG of 400 x 300 pixels, as stored.
QByteArray splashPicture();
// The splash's icon: one 32 x 32 image with 16 colours.
QPixmap splashIcon();
// The application icon, in every size it comes in.
QIcon applicationIcon();
// Makes the application icon the icon of every window. Call once the application object exists.
void installApplicationIcon();

} // namespace Artwork
