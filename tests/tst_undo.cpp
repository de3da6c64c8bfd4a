// Taking a committed run back from its record, after days of lending: on PostgreSQL (a plain and a
// case-insensitive collation) and SQLite (binary and nocase). The run pads a library; then the desk
// lends under the new numbers, takes a loan back, a reader changes a password, a reader is deleted
// and a new reader gets an old number; the undo must leave what the rules say: every card it can
// take back back, with every loan made since, the password back where it is still the run's, no
// card number held twice, no loan lost; a conflict refuses it all unless partial.

#include "db/LibQuery.h"
#include "platform/Exceptions.h"
#include "run/PaddingRun.h"
#include "support/PaddingModel.h"
#include "support/TestEnvironment.h"
#include "undo/UndoRun.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace testenv;

namespace {

struct QuietView : PaddingRunView
{
    QString length;
    QString lengthText() const override { return length; }
    void setProgressVisible(bool) override {}
    void setProgressPosition(int) override {}
    void addResultLine(const QString &) override {}
    void setDone() override {}
    void showFinished() override {}
};

struct CollectingSink : ChangeSink
{
    QList<ChangedCard> cards;
    void add(const ChangedCard &card) override { cards << card; }
};

struct Backend
{
    QString connectionString;
    model::Columns columns;
    model::Fold fold;
};

char passwordCode(PasswordChange change)
{
    switch (change) {
    case PasswordChange::FollowsCard:
        return 'F';
    case PasswordChange::WasEmpty:
        return 'E';
    case PasswordChange::Emptied:
        return 'X';
    case PasswordChange::Unchanged:
        break;
    }
    return 'U';
}

// The record as the undo reads it back.
QList<UndoCard> undoCards(const QList<ChangedCard> &record)
{
    QList<UndoCard> cards;
    for (const ChangedCard &c : record) {
        if (c.leftAlone)
            continue;   // left alone by the run: nothing to take back
        UndoCard card{c.oldNumber, c.newNumber, c.reader ? UndoCard::Kind::Reader : UndoCard::Kind::LoanOnly,
                      passwordCode(c.password), c.loans, c.joinedLoans, {}};
        cards << card;
    }
    return cards;
}

// The undo's rules written down a second time, on the library as it is now. Returns the library the
// undo leaves, or nothing when it must refuse (a conflict without `partial`, or nothing to undo).
std::optional<model::Library> undone(model::Library now, const QList<UndoCard> &cards, model::Fold fold, bool partial)
{
    const auto key = [fold](const QString &v) { return model::key(v, fold); };
    const auto readersWith = [&](const QString &number) {
        QList<qsizetype> at;
        for (qsizetype i = 0; i < now.readers.size(); ++i) {
            if (!now.readers[i].id.isNull() && key(now.readers[i].id) == key(number))
                at << i;
        }
        return at;
    };
    enum Action { Back, PasswordOnly, Nothing, Conflict };
    QList<Action> actions;
    for (const UndoCard &card : cards) {
        const qsizetype underNew = readersWith(card.newNumber).size();
        const qsizetype underOld = readersWith(card.oldNumber).size();
        qsizetype expected = 0;
        for (const UndoCard &other : cards) {
            if (other.kind == UndoCard::Kind::Reader && other.oldNumber != other.newNumber
                && key(other.newNumber) == key(card.newNumber))
                ++expected;
        }
        if (card.kind == UndoCard::Kind::Reader && card.oldNumber == card.newNumber)
            actions << (underNew > 0 ? PasswordOnly : Nothing);
        else if (card.kind == UndoCard::Kind::Reader)
            actions << (underNew == 0 ? Nothing : underOld > 0 || underNew > expected || card.joinedLoans > 0 ? Conflict : Back);
        else
            actions << (underNew > 0 || underOld > 0 ? Conflict : Back);
    }
    if (!partial && actions.contains(Conflict))
        return std::nullopt;
    if (!actions.contains(Back) && !actions.contains(PasswordOnly))
        return std::nullopt;
    model::Library after = now;
    QSet<QString> movedLoans;
    for (qsizetype c = 0; c < cards.size(); ++c) {
        const UndoCard &card = cards[c];
        if (actions[c] == Back && !movedLoans.contains(key(card.newNumber))) {
            movedLoans.insert(key(card.newNumber));
            for (QString &loan : after.loans) {
                if (!loan.isNull() && key(loan) == key(card.newNumber))
                    loan = card.oldNumber;
            }
        }
        if (actions[c] == Back && card.kind == UndoCard::Kind::Reader) {
            for (const qsizetype i : readersWith(card.newNumber)) {
                model::Reader &r = after.readers[i];
                const bool stillTheRuns = !r.password.isNull() && key(r.password) == key(r.id);
                if (card.password == 'F' && stillTheRuns)
                    r.password = card.oldNumber;
                else if (card.password == 'E' && stillTheRuns)
                    r.password = QStringLiteral("");
                r.id = card.oldNumber;
            }
        }
        if (actions[c] == PasswordOnly) {
            for (const qsizetype i : readersWith(card.newNumber)) {
                model::Reader &r = after.readers[i];
                if (card.password == 'E' && !r.password.isNull() && key(r.password) == key(r.id))
                    r.password = QStringLiteral("");
            }
        }
    }
    return after;
}

} // namespace

Q_DECLARE_METATYPE(model::Library)

class TestUndo : public QObject
{
    Q_OBJECT

    std::unique_ptr<PgDatabase> m_pg;
    QTemporaryDir m_dir;
    QMap<QString, Backend> m_backends;

    static QSqlDatabase open(const Backend &backend)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("LibDB"));
        db.setDatabaseName(backend.connectionString);
        if (!db.open())
            throw std::runtime_error(db.lastError().text().toStdString());
        return db;
    }
    static void close()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(QStringLiteral("LibDB"), false);
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("LibDB"));
    }
    static void exec(const QSqlDatabase &db, const QStringList &statements)
    {
        QSqlQuery q(db);
        for (const QString &s : statements) {
            if (!q.exec(s))
                throw std::runtime_error((q.lastError().text() + u'\n' + s).toStdString());
        }
    }
    static model::Library readBack(const QSqlDatabase &db)
    {
        model::Library lib;
        QSqlQuery q(db);
        q.exec(QStringLiteral("select cast(pe_id as text), cast(pe_passwd as text) from lib_people"));
        while (q.next())
            lib.readers << model::Reader{q.isNull(0) ? QString() : q.value(0).toString(), q.isNull(1) ? QString() : q.value(1).toString()};
        q.exec(QStringLiteral("select cast(js_libcard as text) from lib_jieshu order by js_id"));
        while (q.next())
            lib.loans << (q.isNull(0) ? QString() : q.value(0).toString());
        return lib;
    }
    static QString literal(const QString &value)
    {
        QString escaped = value;
        escaped.replace(u'\'', QStringLiteral("''"));
        return u'\'' + escaped + u'\'';
    }

private slots:
    void initTestCase()
    {
        QString why;
        if (!haveDatabaseServer(&why))
            QFAIL(qPrintable(why));
        m_pg = std::make_unique<PgDatabase>();
        m_pg->exec({QStringLiteral("create collation ci (provider = icu, locale = 'und-u-ks-level2', deterministic = false)")});
        const auto sized = [](const QString &type) { return model::Columns{type.arg(20), type.arg(20), type.arg(20)}; };
        const QString sqlite = sqliteConnectionString(m_dir.filePath(QStringLiteral("lib.db")));
        m_backends[QStringLiteral("pg")] = {m_pg->connectionString(), sized(QStringLiteral("varchar(%1)")), model::Fold::Binary};
        m_backends[QStringLiteral("pg-ci")] = {m_pg->connectionString(), sized(QStringLiteral("varchar(%1) collate ci")),
                                               model::Fold::CaseAndWidth};
        m_backends[QStringLiteral("sqlite")] = {sqlite, sized(QStringLiteral("varchar(%1)")), model::Fold::Binary};
        m_backends[QStringLiteral("sqlite-nocase")] = {sqlite, sized(QStringLiteral("varchar(%1) collate nocase")),
                                                       model::Fold::AsciiCase};
    }
    void cleanupTestCase() { m_pg.reset(); }

    // A run, days of lending, the undo: with a new reader under an old number the undo refuses
    // everything, unless partial; without it, everything goes back.
    void roundTrip_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<bool>("newReaderUnderAnOldNumber");
        QTest::addColumn<bool>("partial");
        for (const char *backend : {"pg", "pg-ci", "sqlite", "sqlite-nocase"}) {
            QTest::addRow("%s: lending since", backend) << backend << false << false;
            QTest::addRow("%s: an old number taken, refused", backend) << backend << true << false;
            QTest::addRow("%s: an old number taken, partial", backend) << backend << true << true;
        }
    }
    void roundTrip()
    {
        QFETCH(QString, backend);
        QFETCH(bool, newReaderUnderAnOldNumber);
        QFETCH(bool, partial);
        const Backend &b = m_backends[backend];
        const int length = 6;
        const model::Library before{
            {{"7", "7"}, {"12", ""}, {"123", "pw"}, {"1234", "1234"}, {"55", "55"}, {"0055", "x"}, {"ab9", "AB9"},
             {"99", ""}, {"123456", ""}, {"66", "66"}, {"\"\\,{", "\"\\,{"}},
            {"7", "7", "12", "123", "1234", "55", "ab9", "AB9", "888", "888", "123456", "66", "\"\\,{"}};

        // The run, committed, with its record.
        CollectingSink record;
        {
            QSqlDatabase db = open(b);
            exec(db, model::tableStatements(before, b.columns));
            LibQuery qrTmp(db);
            QuietView view;
            view.length = QString::number(length);
            PaddingRun run(qrTmp, view);
            PaddingReport report(&record);
            run.setReport(&report);
            run.execute();
        }
        close();
        const model::Library afterRun = model::run(before, length, b.fold).after;

        // Days of lending, on the database and on the model alike.
        model::Library now = afterRun;
        QStringList lending{
            // Two new loans under a padded reader's number, one under another's.
            QStringLiteral("insert into lib_jieshu values (101, '000007', 'new')"),
            QStringLiteral("insert into lib_jieshu values (102, '000007', 'new')"),
            QStringLiteral("insert into lib_jieshu values (103, '001234', 'new')"),
            // One with a trailing blank, which never counts.
            QStringLiteral("insert into lib_jieshu values (104, '000007 ', 'new')"),
            // A loan returned.
            QStringLiteral("delete from lib_jieshu where js_id = 4"),
            // A password changed by its reader.
            QStringLiteral("update lib_people set pe_passwd = 'mine' where pe_id = '001234'"),
            // A reader deleted.
            QStringLiteral("delete from lib_people where pe_id = '000066'")};
        now.loans << QStringLiteral("000007") << QStringLiteral("000007") << QStringLiteral("001234") << QStringLiteral("000007 ");
        now.loans[3] = QString();   // js_id 4: returned (read back without it)
        for (model::Reader &r : now.readers) {
            if (r.id == QStringLiteral("001234"))
                r.password = QStringLiteral("mine");
        }
        now.readers.removeIf([](const model::Reader &r) { return r.id == QStringLiteral("000066"); });
        if (newReaderUnderAnOldNumber) {
            lending << QStringLiteral("insert into lib_people values ('123', 'new', 'x')");
            now.readers << model::Reader{QStringLiteral("123"), QStringLiteral("new")};
        }
        now.loans.removeAll(QString());
        {
            QSqlDatabase db = open(b);
            exec(db, lending);
        }
        close();

        const QList<UndoCard> cards = undoCards(record.cards);
        QVERIFY(!cards.isEmpty());
        const std::optional<model::Library> expected = undone(now, cards, b.fold, partial);

        for (const UndoRun::Ending ending : {UndoRun::Ending::RollBack, UndoRun::Ending::Commit}) {
            model::Library after;
            UndoPlan plan;
            {
                QSqlDatabase db = open(b);
                LibQuery query(db);
                QuietView view;
                UndoRun undo(query, view, cards);
                undo.setPartial(partial);
                undo.execute(ending);
                plan = undo.plan();
                after = readBack(db);
            }
            close();
            const bool changes = expected.has_value() && ending == UndoRun::Ending::Commit;
            const model::Library &want = changes ? *expected : now;
            QCOMPARE(model::canonicalReaders(after.readers), model::canonicalReaders(want.readers));
            QCOMPARE(model::canonicalLoans(after.loans), model::canonicalLoans(want.loans));
            QCOMPARE(plan.refused, !expected.has_value());
            QCOMPARE(!plan.conflicts.isEmpty(), newReaderUnderAnOldNumber);
            // The deleted reader's card needs nothing; every loan under a number taken back moves,
            // the four made since among them (one under the number with a trailing blank).
            QCOMPARE(plan.gone.size(), 1);
            if (expected)
                QCOMPARE(plan.loansSince, 4);
            if (!changes)
                continue;
            // No card number held twice that was not twice before, no loan lost.
            QCOMPARE(after.loans.size(), now.loans.size());
        }
    }
};

QTEST_GUILESS_MAIN(TestUndo)
#include "tst_undo.moc"
