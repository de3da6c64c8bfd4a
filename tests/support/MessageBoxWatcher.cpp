#include "support/MessageBoxWatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>

MessageBoxWatcher::MessageBoxWatcher(QObject *parent) : QObject(parent)
{
    m_timer.setInterval(20);
    connect(&m_timer, &QTimer::timeout, this, &MessageBoxWatcher::poll);
    m_timer.start();
}

void MessageBoxWatcher::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    Box seen{box->windowTitle(), box->text(), box->icon(), {}};
    for (QAbstractButton *button : box->buttons())
        seen.buttons << button->text();
    m_boxes << seen;
    if (m_inspector)
        m_inspector(box);
    QAbstractButton *answer = box->defaultButton();
    if (!answer && !box->buttons().isEmpty())
        answer = box->buttons().first();
    if (answer)
        answer->click();
    else
        box->close();
}
