// The record of a run's changes: its CSV fields, and that the file appears only when published
// (a record that is dropped leaves nothing behind; a path that cannot be written is refused when
// the record is made, before the run changes anything).

#include "platform/Exceptions.h"
#include "run/ChangeRecord.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestChangeRecord : public QObject
{
    Q_OBJECT

    static QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void field_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("field");
        QTest::newRow("digits") << "000000123" << "000000123";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("comma") << "12,3" << "\"12,3\"";
        QTest::newRow("quote") << "a\"b" << "\"a\"\"b\"";
        QTest::newRow("leading blank") << " 12" << "\" 12\"";
        QTest::newRow("line break") << "1\n2" << "\"1\n2\"";
        QTest::newRow("chinese") << "张三" << "张三";
    }
    void field()
    {
        QFETCH(QString, text);
        QFETCH(QString, field);
        QCOMPARE(ChangeRecord::field(text), field);
    }

    void publishedOnlyWhenAsked()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cards.csv"));
        {
            ChangeRecord record(path);
            record.add({QStringLiteral("7"), QStringLiteral("000000007"), true, PasswordChange::FollowsCard, 2});
            record.add({QStringLiteral("12,5"), QStringLiteral("00000012,5"), false, PasswordChange::Unchanged, 1});
            record.add({QStringLiteral("123456789"), QStringLiteral("123456789"), true, PasswordChange::WasEmpty, 0});
            record.finish();
            QVERIFY(!QFile::exists(path));
            QVERIFY(ChangeRecord::pendingFile() != nullptr);
            QVERIFY(QFile::exists(QFile::decodeName(ChangeRecord::pendingFile())));
            record.publish();
            QCOMPARE(record.rows(), 3);
            QCOMPARE(ChangeRecord::pendingFile(), nullptr);
        }
        QCOMPARE(QString::fromUtf8(read(path)),
                 QStringLiteral("原借书证号,新借书证号,密码,移动的借阅记录,类别\r\n"
                                "7,000000007,随证号变更,2,读者\r\n"
                                "\"12,5\",\"00000012,5\",,1,仅见于借阅记录\r\n"
                                "123456789,123456789,原为空，现为证号,0,读者\r\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("cards.csv")});
    }

    void droppedRecordLeavesNothing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cards.csv"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older record\n");
        old.close();
        {
            ChangeRecord record(path);
            record.add({QStringLiteral("7"), QStringLiteral("07"), true, PasswordChange::Unchanged, 0});
        }
        QCOMPARE(read(path), QByteArray("an older record\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("cards.csv")});
    }

    void refusedWhereItCannotBeWritten_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("missing folder") << "no/such/folder/cards.csv";
        QTest::newRow("a folder") << ".";
    }
    void refusedWhereItCannotBeWritten()
    {
        QFETCH(QString, where);
        QTemporaryDir dir;
        const QString path = dir.filePath(where);
        try {
            ChangeRecord record(path);
            QFAIL("the record was made");
        } catch (const EAbort &e) {
            QVERIFY2(e.message().startsWith(QStringLiteral("无法写入变更记录")), qPrintable(e.message()));
            QVERIFY(e.message().endsWith(QStringLiteral("系统没有做任何改动")));
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestChangeRecord)
#include "tst_changerecord.moc"
