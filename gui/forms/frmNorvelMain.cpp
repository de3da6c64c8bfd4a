#include "forms/frmNorvelMain.h"
#include "ui_frmNorvelMain.h"

#include "connection/LibConnection.h"
#include "connection/StoredSettings.h"
#include "data/DbWaitCursor.h"
#include "data/WindowJournal.h"
#include "platform/Exceptions.h"
#include "forms/WindowLook.h"
#include "shell/NorvelApplication.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>

TNorvelMain::TNorvelMain(QWidget *parent)
    : QWidget(parent, WindowLook::FixedDialogFrame),
      ui(std::make_unique<Ui::TNorvelMain>()),
      qrTmp(QSqlDatabase::database(LibConnection::DatabaseName, false))
{
    WindowLook::prepare(this);
    ui->setupUi(this);
    WindowLook::fixAndCentre(this, QSize(ClientWidth, ClientHeight));

    prepareResultMemo(ui->memErr);

    ui->cbBackup->setFocus();
}

TNorvelMain::~TNorvelMain() = default;

void TNorvelMain::prepareResultMemo(QPlainTextEdit *memo)
{
    // Card numbers are digits and blanks, which have no writing direction of their own: with the
    // direction left open, Qt searches the whole text of a line for one at every cursor move and
    // paint, and the collision list is one line of up to a megabyte.
    QTextOption option = memo->document()->defaultTextOption();
    option.setTextDirection(Qt::LeftToRight);
    memo->document()->setDefaultTextOption(option);
}

void TNorvelMain::cbBackupClick()
{
    ui->btLTAdd->setEnabled(ui->cbBackup->isChecked());
}

void TNorvelMain::btLTAddClick()
{
    // Only after the backup has been confirmed, however the button was pressed.
    if (!ui->cbBackup->isChecked())
        return;
    NorvelApplication::handle([this] {
        // The settings' other columns to pad with the loans, as norvel-pad reads them.
        QList<AlsoColumn> also;
        QString dataSource;
        if (StoredSettings settings; settings.open()) {
            dataSource = settings.odbcName();
            QString why;
            const std::optional<QList<AlsoColumn>> columns = AlsoColumn::parseList(settings.alsoColumns(), &why);
            if (!columns)
                throw EAbort(QStringLiteral("%1: %2").arg(StoredSettings::AlsoValue, why));
            also = *columns;
        }
        PaddingRun run(qrTmp, *this);
        // Each statement may keep the server busy for a long time: the bar shows the exact position first.
        run.setStatementObserver([this](const QString &) { paintProgress(); });
        run.setAlsoColumns(also);
        // Every applied run is kept in the journal, without a word in the window.
        WindowJournal journal(QSqlDatabase::database(LibConnection::DatabaseName, false), dataSource, lengthText(), also);
        PaddingReport report(journal.sink());
        if (journal.sink())
            run.setReport(&report);
        run.setBeforeCommit([&journal] { journal.beforeCommit(); });
        run.setAfterCommit([&journal] { journal.afterCommit(true); });
        try {
            run.execute();
        } catch (const ECommitUnknown &) {
            journal.afterCommit(false);
            throw;
        }
    });
}

void TNorvelMain::btExitClick()
{
    close();
}

QString TNorvelMain::lengthText() const
{
    return ui->edLen->text();
}

void TNorvelMain::setProgressVisible(bool visible)
{
    ui->pBar->setVisible(visible);
    if (visible) {
        // The event loop does not run until the run is over: paint the window now (the bar, and
        // the start button no longer pressed).
        m_sinceProgressPaint.invalidate();
        repaint();
    }
}

void TNorvelMain::setProgressPosition(int position)
{
    // Beyond the maximum the bar shows full.
    m_position = std::clamp(position, ui->pBar->minimum(), ui->pBar->maximum());
    if (!m_sinceProgressPaint.isValid() || m_sinceProgressPaint.elapsed() >= ProgressRepaintInterval)
        paintProgress();
}

void TNorvelMain::showProgressNow()
{
    paintProgress();
}

void TNorvelMain::paintProgress()
{
    if (ui->pBar->value() == m_position && m_sinceProgressPaint.isValid())
        return;
    ui->pBar->setValue(m_position);
    ui->pBar->repaint();
    m_sinceProgressPaint.start();
}

void TNorvelMain::addResultLine(const QString &line)
{
    appendResultLine(ui->memErr, line);
}

void TNorvelMain::appendResultLine(QPlainTextEdit *memo, const QString &line)
{
    memo->appendPlainText(line);
    // A line keeps its layout once made: otherwise every paint and every cursor move in the
    // collision list would lay out the whole megabyte again.
    if (QTextLayout *layout = memo->document()->lastBlock().layout())
        layout->setCacheEnabled(true);
}

void TNorvelMain::setDone()
{
    ui->pBar->hide();
    ui->btLTAdd->setEnabled(false);
    ui->cbBackup->setEnabled(false);
}

void TNorvelMain::showFinished()
{
    WindowLook::information(this, QStringLiteral("提示信息"), PaddingRun::FinishedMessage);
}

void TNorvelMain::serverCallStarted()
{
    m_wait = std::make_unique<DbWaitCursor>();
}

void TNorvelMain::serverCallEnded()
{
    m_wait.reset();
}
