#pragma once

#include <QWidget>

#include <memory>

class QKeyEvent;

namespace Ui {
class TDbPara;
}

// The connection-parameter dialog: the program's one window when the database connection did not
// open. It explains what to check and, on request, shows the stored connection settings (data
// source name, database login name and password) for editing and saves them for the next start.
// It never retries the connection itself; closing it ends the program.
//
// A top-level window, not a dialog: Esc does not close it and Enter in an edit does not press a
// default button (Enter in an edit moves on to the next control instead, see FormKeyPress).
class TDbPara : public QWidget
{
    Q_OBJECT

public:
    // Client area when the window opens: the texts and the two buttons.
    static constexpr int ClientWidth = 483;
    static constexpr int CollapsedClientHeight = 105;
    // After "修改数据库连接参数" the window is 261 pixels high, frame included, as it was on the
    // workstation where the layout was made: there a dialog frame (a 19-pixel caption and a 3-pixel
    // border above and below) took 25 of them. A window manager draws its own frame, of its own
    // size, outside the client area, so the client area gets the height the layout was made for:
    // the settings group (down to 225) and its margin.
    static constexpr int ExpandedOuterHeight = 261;
    static constexpr int DesignFrameHeight = 19 + 2 * 3;
    static constexpr int ExpandedClientHeight = ExpandedOuterHeight - DesignFrameHeight;

    explicit TDbPara(QWidget *parent = nullptr);
    ~TDbPara() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void FormCreate();
    void FormKeyPress(QKeyEvent *key);
    void btModClick();
    void btOkClick();
    void btExitClick();

private:
    std::unique_ptr<Ui::TDbPara> ui;
};
