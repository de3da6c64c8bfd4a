#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class TFlash;
}

// The splash shown while the database connection opens: a borderless picture window with the
// current status text. The data module creates, shows and destroys it.
class TFlash : public QWidget
{
    Q_OBJECT

public:
    explicit TFlash(QWidget *parent = nullptr);
    ~TFlash() override;

    // Shows the window and returns once it is on screen and painted, so that it stays drawn
    // while the caller blocks the event loop.
    void showFullyDrawn();

private:
    void FormCreate();

    std::unique_ptr<Ui::TFlash> ui;
};
