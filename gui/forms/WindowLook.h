#pragma once

#include <QFont>
#include <QString>
#include <QSize>
#include <Qt>

class QWidget;

// What the program's windows share: a fixed dialog frame, the "宋体" face, the button-face
// background, and a place in the middle of the screen.
namespace WindowLook {

// Caption and close box; no minimise or maximise box.
inline constexpr Qt::WindowFlags FixedDialogFrame = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
    | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

// "宋体" with a character height in pixels (the application maps the family to the installed
// CJK face).
QFont songti(int pixelHeight);

// Call before the window's controls are made: the window font ("宋体", 12 pixels; a control with
// a style sheet of its own takes its font from the window when the sheet is applied) and the
// button-face background.
void prepare(QWidget *window);

// The window's client area in the middle of the screen (the frame, whatever the window manager
// makes of it, goes around it).
void centreOnScreen(QWidget *window);

// A fixed client size, centred.
void fixAndCentre(QWidget *window, QSize client);

// The program's message to the user, shown modally: the caption, the text, the information icon
// and OK. The box is at least as wide as a window manager's title bar needs for the caption, in
// a bold face, beside the window's icon and its buttons: for a short text Qt makes the box so
// narrow that the title bar shows only the caption's first character.
void information(QWidget *parent, const QString &caption, const QString &text);

} // namespace WindowLook
