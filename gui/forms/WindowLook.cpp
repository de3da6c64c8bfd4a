#include "forms/WindowLook.h"

#include <QPalette>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace WindowLook {

QFont songti(int pixelHeight)
{
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(pixelHeight);
    return font;
}

void prepare(QWidget *window)
{
    window->setFont(songti(12));
    QPalette buttonFace = window->palette();
    buttonFace.setColor(QPalette::Window, buttonFace.color(QPalette::Button));
    window->setPalette(buttonFace);
}

void centreOnScreen(QWidget *window)
{
    if (const QScreen *screen = window->screen())
        window->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window->size(), screen->geometry()));
}

void fixAndCentre(QWidget *window, QSize client)
{
    window->setFixedSize(client);
    centreOnScreen(window);
}

} // namespace WindowLook
