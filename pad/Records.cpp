#include "Records.h"

#include "Console.h"

#include "platform/Exceptions.h"
#include "platform/RecordFile.h"

#include <QDateTime>

Records::Records(const PadOptions &options)
{
    if (!options.changesFile.isEmpty())
        m_csv = std::make_unique<ChangeRecord>(options.changesFile);
    if (!options.sheetFile.isEmpty())
        m_sheet = std::make_unique<SheetRecord>(options.sheetFile);
}

Records::~Records() = default;

QString Records::keepInJournal()
{
    try {
        m_journal = std::make_unique<JournalRecord>(m_manifest);
    } catch (const NorvelError &error) {
        return error.message();
    }
    return {};
}

void Records::add(const ChangedCard &card)
{
    if (m_csv)
        m_csv->add(card);
    if (m_sheet)
        m_sheet->add(card);
    if (m_journal)
        m_journal->add(card);
    if (!m_example && card.reader && !card.leftAlone && card.oldNumber != card.newNumber)
        m_example = card;
}

void Records::finish()
{
    if (m_csv)
        m_csv->finish();
    if (m_sheet)
        m_sheet->finish();
    if (m_journal)
        m_journal->finish();
}

void Records::commitSent()
{
    if (m_csv)
        m_csv->commitSent();
    if (m_sheet)
        m_sheet->commitSent();
    if (m_journal)
        m_journal->commitSent();
}

Records::Outcome Records::publish(Kind kind, const QString &suffix, const QByteArray &note)
{
    Outcome outcome;
    const auto one = [&](auto &file, const QString &what) -> bool {
        if (!file)
            return false;
        QString why;
        if (!file->publish(&why)) {
            outcome.problems << QStringLiteral("%1没能放到%2（%3）：完整的%1在%4。").arg(what, file->path(), why, file->keptPath());
            outcome.places << QStringLiteral("%1：%2").arg(what, file->keptPath());
            return false;
        }
        QString line = QStringLiteral("%1%2：%3，%4行").arg(what, suffix, file->path()).arg(file->rows());
        if (!note.isEmpty()) {
            const QString marker = file->path() + QStringLiteral(".unconfirmed");
            const QString failed = RecordFile::writeNew(marker, note);
            if (failed.isEmpty())
                line += QStringLiteral("（未确认：见%1）").arg(marker);
            else
                outcome.problems << QStringLiteral("无法写入%1（%2）：%3%4属于一次提交结果不明的处理。").arg(marker, failed, what, file->path());
        }
        outcome.lines << line;
        outcome.places << QStringLiteral("%1：%2").arg(what, file->path());
        return true;
    };
    if (one(m_csv, QStringLiteral("变更记录"))) {
        // The manifest last: its presence says that the record beside it is complete.
        RunManifest manifest = m_manifest;
        manifest.state = kind == Kind::Preview     ? RunManifest::State::Preview
                         : kind == Kind::Applied ? RunManifest::State::Applied
                                                 : RunManifest::State::Unconfirmed;
        if (kind != Kind::Preview)
            manifest.committed = QDateTime::currentDateTimeUtc();
        if (const QString why = manifest.writeBeside(m_csv->path(), m_csv->rows()); why.isEmpty())
            outcome.lines << QStringLiteral("清单：%1").arg(RunManifest::pathFor(m_csv->path()));
        else
            outcome.problems << QStringLiteral("无法写入清单文件%1（%2）：没有它，这个变更记录不能用来撤销。")
                                    .arg(RunManifest::pathFor(m_csv->path()), why);
    }
    one(m_sheet, QStringLiteral("表格"));
    if (m_journal) {
        QString why;
        const QString kept = m_journal->publish(kind == Kind::Applied, &why);
        if (kept.isEmpty())
            outcome.problems << QStringLiteral("没能把变更记录保存到处理日志中（%1）。").arg(why);
        else
            outcome.lines << QStringLiteral("处理日志：%1").arg(kept);
    }
    return outcome;
}

void Records::Outcome::printLines(Console &console) const
{
    for (const QString &line : lines)
        console.out(line + u'\n');
}

void Records::Outcome::printProblems(Console &console) const
{
    for (const QString &problem : problems)
        console.err(QStringLiteral("norvel-pad: %1\n").arg(problem));
}

QString Records::howToCheck(int length) const
{
    if (m_example) {
        return QStringLiteral("在表lib_people中找原借书证号为“%1”的读者（不计末尾的空格）：如果他的借书证号已经是“%2”，"
                              "改动已经提交，变更记录就是这次的改动；如果仍是“%1”，改动没有提交，数据库与处理前相同。")
            .arg(m_example->oldNumber, m_example->newNumber);
    }
    return QStringLiteral("找一位借书证号短于%1位的读者，看他的证号是否已经补了0：补了，改动已经提交；没有，改动没有提交。").arg(length);
}
