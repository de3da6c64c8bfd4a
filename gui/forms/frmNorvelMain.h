#pragma once

#include "db/LibQuery.h"
#include "run/PaddingRun.h"

#include <QElapsedTimer>
#include <QWidget>

#include <memory>

class DbWaitCursor;

class QPlainTextEdit;

namespace Ui {
class TNorvelMain;
}

// The main window: the target length, the confirmation that the database has been backed up, the
// button that starts the card-number padding run, its progress and its result lines. Closing it
// ends the program.
//
// A top-level window, not a dialog: Esc does not close it. The run blocks the window from start to
// end (the event loop does not run), so nothing the user clicks meanwhile can act; input queued
// during the run reaches the window only while the modal box that ends every run (the final
// message or the error box) is up, which keeps it out. The progress bar is repainted directly
// while the run blocks.
//
// The result memo is a plain-text editor: the run's lines are text, never markup (a rich-text
// editor would take a line starting with "<" for HTML), it wraps, and it lays out line by line,
// which a megabyte-long collision list needs.
class TNorvelMain : public QWidget, private PaddingRunView
{
    Q_OBJECT

public:
    static constexpr int ClientWidth = 427;
    static constexpr int ClientHeight = 192;
    // While the run blocks, the progress bar is repainted at most this often (milliseconds);
    // a scan reports a position for every row it reads.
    static constexpr int ProgressRepaintInterval = 40;

    explicit TNorvelMain(QWidget *parent = nullptr);
    ~TNorvelMain() override;

    // The result memo holds the run's lines, the collision list among them: one line of up to a
    // megabyte (100,000 card numbers). Set up so that such a line shows at once and the memo stays
    // usable, and how a line is added.
    static void prepareResultMemo(QPlainTextEdit *memo);
    static void appendResultLine(QPlainTextEdit *memo, const QString &line);

private slots:
    void cbBackupClick();
    void btLTAddClick();
    void btExitClick();

private:
    // What the run sees of the window.
    QString lengthText() const override;
    void setProgressVisible(bool visible) override;
    void setProgressPosition(int position) override;
    void addResultLine(const QString &line) override;
    void setDone() override;
    void showFinished() override;
    void showProgressNow() override;
    void serverCallStarted() override;
    void serverCallEnded() override;

    // Brings the bar to the run's latest position and paints it now.
    void paintProgress();

    std::unique_ptr<Ui::TNorvelMain> ui;
    LibQuery qrTmp;
    int m_position = 0;              // the latest position, within the bar's range
    QElapsedTimer m_sinceProgressPaint;
    // The database-wait pointer while the server works on a statement of the run.
    std::unique_ptr<DbWaitCursor> m_wait;
};
