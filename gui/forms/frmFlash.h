#pragma once

#include <QByteArrayView>
#include <QImage>
#include <QSize>
#include <QString>
#include <QWidget>

#include <memory>

class QLabel;

namespace Ui {
class TFlash;
}

// The splash shown while the database connection opens: a borderless 400 x 300 picture window,
// centred on the screen, with the current status text. The data module creates, shows and
// destroys it.
//
// Unlike the other windows it is not scaled with the screen's dots per inch: its controls are laid
// out in screen pixels on a surface that is never shown itself, and the window paints a 1:1
// rendering of that surface (a picture of ratio 1 drawn with the screen's device pixel ratio).
class TFlash : public QWidget
{
    Q_OBJECT

public:
    // The splash's size in screen pixels, at every dots-per-inch setting.
    static constexpr QSize PixelSize{400, 300};

    // With the program's own splash picture.
    explicit TFlash(QWidget *parent = nullptr);
    // With the given JPEG data as the picture; when it cannot be decoded the splash shows its texts
    // on a plain background.
    explicit TFlash(QByteArrayView picture, QWidget *parent = nullptr);
    ~TFlash() override;

    // Shows the window and returns once it is on screen and painted, so that it stays drawn
    // while the caller blocks the event loop.
    void showFullyDrawn();

    // What the window shows, pixel for pixel (PixelSize, device pixel ratio 1).
    QImage renderedImage() const;
    // Why the picture is missing; empty when it was decoded.
    const QString &pictureError() const { return m_pictureError; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void FormCreate();

    std::unique_ptr<Ui::TFlash> ui;
    QWidget *m_surface;   // holds the controls (owned by this window), rendered, never shown
    QString m_pictureError;
};
