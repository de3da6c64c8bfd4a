#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QTimer>

#include <functional>

// Watches for modal message boxes while a test drives the program: records each one's caption,
// text and icon and then answers it (its default button, or OK), so the code that showed it goes on.
class MessageBoxWatcher : public QObject
{
    Q_OBJECT

public:
    struct Box
    {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QStringList buttons;
    };

    explicit MessageBoxWatcher(QObject *parent = nullptr);

    const QList<Box> &boxes() const { return m_boxes; }
    int count() const { return static_cast<int>(m_boxes.size()); }
    void clear() { m_boxes.clear(); }
    // Called with each box before it is answered (for looking at the screen while it is up).
    void setInspector(std::function<void(QMessageBox *)> inspector) { m_inspector = std::move(inspector); }

private:
    void poll();

    QTimer m_timer;
    QList<Box> m_boxes;
    std::function<void(QMessageBox *)> m_inspector;
};

// main() for widget tests: the program's own application object (its error handler runs), then
// the test object.
#define NORVEL_WIDGET_TEST_MAIN(TestObject)                                                        \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        NorvelApplication app(argc, argv);                                                         \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
