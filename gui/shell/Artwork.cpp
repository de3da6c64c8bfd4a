#include "shell/Artwork.h"

#include <QFile>
#include <QGuiApplication>

// The resource file is compiled into a static library: nothing would pull its registration into
// the program, so it is registered here, by hand, once. (Q_INIT_RESOURCE must not be called from
// inside a namespace.)
static void registerArtworkResources()
{
    Q_INIT_RESOURCE(norvel);
}

namespace Artwork {

namespace {

QString resource(const char *name)
{
    static const bool registered = (registerArtworkResources(), true);
    Q_UNUSED(registered);
    return QStringLiteral(":/norvel/") + QLatin1String(name);
}

} // namespace

QByteArray splashPicture()
{
    QFile file(resource("splash.jpg"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QPixmap splashIcon()
{
    return QPixmap(resource("splash-icon.ico"), "ICO");
}

QIcon applicationIcon()
{
    return QIcon(resource("norvel.ico"));
}

void installApplicationIcon()
{
    QGuiApplication::setWindowIcon(applicationIcon());
}

} // namespace Artwork
