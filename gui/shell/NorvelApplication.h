#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <utility>

// The application object: its title ("Norvel"), Qt's own Chinese strings for the standard buttons,
// the window font, and the central error handler.
//
// Errors are exceptions. Event handlers do not catch them; they reach the error box here: caption
// the application title, the error's text (with a full stop after a letter, digit, Chinese
// character or any other character above "."), a stop icon and OK. Then the program goes on.
class NorvelApplication : public QApplication
{
    Q_OBJECT

public:
    NorvelApplication(int &argc, char **argv);
    ~NorvelApplication() override;

    static inline const QString Title = QStringLiteral("Norvel");

    // The text the error box shows for an error message.
    static QString errorBoxText(const QString &message);
    // The message an exception carries.
    static QString messageOf(const std::exception &error);
    // The standard error box, modal, shown now.
    static void showException(const QString &message);
    // Runs an event handler; whatever it throws ends the handler and is shown in the error box.
    template<typename Handler>
    static void handle(Handler &&handler) noexcept
    {
        try {
            std::forward<Handler>(handler)();
        } catch (const std::exception &error) {
            showException(messageOf(error));
        } catch (...) {
            showException(QStringLiteral("Unknown error"));
        }
    }

    // The last resort for an exception that escaped a handler into Qt's event delivery:
    // it is caught here and shown once the event is done with, outside notify().
    bool notify(QObject *receiver, QEvent *event) override;
};
