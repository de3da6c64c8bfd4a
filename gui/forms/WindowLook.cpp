#include "forms/WindowLook.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPalette>
#include <QScreen>
#include <QSpacerItem>
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

void information(QWidget *parent, const QString &caption, const QString &text)
{
    QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Ok, parent);
    // Title fonts are bold and may be larger than the window's; the icon and the three buttons of
    // a title bar are each about a line high, with gaps and borders between them.
    QFont titleFont = box.font();
    titleFont.setBold(true);
    const QFontMetrics title(titleFont);
    const int wanted = title.horizontalAdvance(caption) * 5 / 4 + 8 * title.height();
    // QMessageBox sizes itself from its layout: a row that is only that wide widens it.
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout())) {
        grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
    box.exec();
}

} // namespace WindowLook
