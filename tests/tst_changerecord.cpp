// The record of a run's changes: its CSV fields (formula cells escaped so that a reader gets the
// value back), and its file (RecordFile): never over anything that exists, readable by its owner
// only whatever the umask, in place only when published and then never over a file that appeared
// meanwhile, nothing left behind by a record that is dropped before its commit was sent, and a
// later run's clean-up that removes only what is provably a killed run's leftover.

#include "platform/Exceptions.h"
#include "platform/RecordFile.h"
#include "run/ChangeRecord.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

class TestChangeRecord : public QObject
{
    Q_OBJECT

    static QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static void write(const QString &path, const QByteArray &content)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    static QStringList entries(const QString &dir)
    {
        return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
    static mode_t modeOf(const QString &path)
    {
        struct stat st {};
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
    static QString hiddenFile(const QString &dir)
    {
        for (const QString &name : entries(dir)) {
            if (name.startsWith(u'.'))
                return dir + u'/' + name;
        }
        return {};
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
        // Cells a spreadsheet would run, and one that starts with the escape itself.
        QTest::newRow("formula =") << "=1+1" << "'=1+1";
        QTest::newRow("formula @") << "@SUM(A1)" << "'@SUM(A1)";
        QTest::newRow("formula +") << "+1" << "'+1";
        QTest::newRow("formula -") << "-2+3" << "'-2+3";
        QTest::newRow("formula with comma") << "=HYPERLINK(\"x\",1)" << "\"'=HYPERLINK(\"\"x\"\",1)\"";
        QTest::newRow("leading tab") << "\t1" << "'\t1";
        QTest::newRow("leading apostrophe") << "'=1" << "''=1";
        QTest::newRow("= not first") << "0000=1+1" << "0000=1+1";
    }
    void field()
    {
        QFETCH(QString, text);
        QFETCH(QString, field);
        QCOMPARE(ChangeRecord::field(text), field);
        // Read back as a CSV reader does (quotes off), the value comes back exactly.
        QString cell = field;
        if (cell.startsWith(u'"'))
            cell = cell.mid(1, cell.size() - 2).replace(QStringLiteral("\"\""), QStringLiteral("\""));
        QCOMPARE(ChangeRecord::cellValue(cell), text);
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
            record.add({QStringLiteral("=1+1"), QStringLiteral("00000=1+1"), true, PasswordChange::Unchanged, 0});
            record.finish();
            QVERIFY(!QFile::exists(path));
            QVERIFY(record.keptPath().startsWith(dir.filePath(QStringLiteral(".cards.csv."))));
            QVERIFY(QFile::exists(record.keptPath()));
            QVERIFY(record.publish());
            QCOMPARE(record.rows(), 4);
            QCOMPARE(record.keptPath(), path);
        }
        QCOMPARE(QString::fromUtf8(read(path)),
                 QStringLiteral("原借书证号,新借书证号,密码,移动的借阅记录,类别\r\n"
                                "7,000000007,随证号变更,2,读者\r\n"
                                "\"12,5\",\"00000012,5\",,1,仅见于借阅记录\r\n"
                                "123456789,123456789,原为空，现为证号,0,读者\r\n"
                                "'=1+1,00000=1+1,未变,0,读者\r\n"));
        QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("cards.csv")});
    }

    // A dropped record leaves nothing; one whose commit was sent stays, for the administrator.
    void droppedRecordLeavesNothing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cards.csv"));
        {
            ChangeRecord record(path);
            record.add({QStringLiteral("7"), QStringLiteral("07"), true, PasswordChange::Unchanged, 0});
            record.finish();
        }
        QCOMPARE(entries(dir.path()), QStringList());
        QString kept;
        {
            ChangeRecord record(path);
            record.add({QStringLiteral("7"), QStringLiteral("07"), true, PasswordChange::Unchanged, 0});
            record.finish();
            record.commitSent();
            kept = record.keptPath();
        }
        QVERIFY2(kept.endsWith(QStringLiteral(".committing")), qPrintable(kept));
        QCOMPARE(entries(dir.path()), QStringList{QFileInfo(kept).fileName()});
        QCOMPARE(read(kept), ChangeRecord::signature() + "7,07,未变,0,读者\r\n");
    }

    // Nothing that is at the name is written, replaced or followed: refused before the run.
    void existingNamesRefused_data()
    {
        QTest::addColumn<QString>("make");
        QTest::addColumn<QString>("kind");
        QTest::newRow("a file") << "file" << "文件";
        QTest::newRow("a folder") << "folder" << "文件夹";
        QTest::newRow("a symbolic link to nowhere") << "dangling" << "符号链接";
        QTest::newRow("a symbolic link to a file") << "link" << "符号链接";
        QTest::newRow("a device") << "device" << "设备文件";
        QTest::newRow("a named pipe") << "fifo" << "命名管道";
    }
    void existingNamesRefused()
    {
        QFETCH(QString, make);
        QFETCH(QString, kind);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("cards.csv"));
        const QByteArray native = QFile::encodeName(path);
        const QString target = dir.filePath(QStringLiteral("target.txt"));
        if (make == QStringLiteral("file")) {
            write(path, "an older record\n");
        } else if (make == QStringLiteral("folder")) {
            QVERIFY(QDir().mkdir(path));
        } else if (make == QStringLiteral("dangling")) {
            QVERIFY(::symlink("nowhere.csv", native.constData()) == 0);
        } else if (make == QStringLiteral("link")) {
            write(target, "someone's file\n");
            QVERIFY(::symlink(QFile::encodeName(target).constData(), native.constData()) == 0);
        } else if (make == QStringLiteral("device")) {
            path = QStringLiteral("/dev/null");
        } else {
            QVERIFY(::mkfifo(native.constData(), 0600) == 0);
        }
        const QStringList before = entries(dir.path());
        struct stat was {};
        QVERIFY(::lstat(QFile::encodeName(path).constData(), &was) == 0);

        QCOMPARE(RecordFile::refusal(path),
                 QStringLiteral("%1已经存在（%2），不会写入或替换它：请给一个还不存在的文件名").arg(path, kind));
        try {
            ChangeRecord record(path);
            QFAIL("the record was made");
        } catch (const EAbort &e) {
            QVERIFY2(e.message().startsWith(QStringLiteral("无法写入变更记录%1：已经有一个同名的%2").arg(path, kind)),
                     qPrintable(e.message()));
        }
        QCOMPARE(entries(dir.path()), before);
        struct stat now {};
        QVERIFY(::lstat(QFile::encodeName(path).constData(), &now) == 0);
        QCOMPARE(now.st_ino, was.st_ino);
        QCOMPARE(now.st_mode, was.st_mode);
        if (make == QStringLiteral("file"))
            QCOMPARE(read(path), QByteArray("an older record\n"));
        if (make == QStringLiteral("link"))
            QCOMPARE(read(target), QByteArray("someone's file\n"));
    }

    void refusedWhereItCannotBeWritten_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("missing folder") << "no/such/folder/cards.csv";
        QTest::newRow("a folder's name with a slash") << "sub/";
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
        QCOMPARE(entries(dir.path()), QStringList());
    }

    // Readable by its owner only whatever the umask; by its group too in a set-group-ID folder.
    void modes_data()
    {
        QTest::addColumn<int>("umask");
        QTest::addColumn<bool>("setGroupId");
        QTest::addColumn<int>("mode");
        QTest::newRow("umask 000") << 0000 << false << 0600;
        QTest::newRow("umask 022") << 0022 << false << 0600;
        QTest::newRow("umask 077") << 0077 << false << 0600;
        QTest::newRow("umask 000, set-group-ID folder") << 0000 << true << 0640;
        QTest::newRow("umask 077, set-group-ID folder") << 0077 << true << 0640;
    }
    void modes()
    {
        QFETCH(int, umask);
        QFETCH(bool, setGroupId);
        QFETCH(int, mode);
        QTemporaryDir dir;
        if (setGroupId)
            QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 02750) == 0);
        const mode_t previous = ::umask(mode_t(umask));
        const QString path = dir.filePath(QStringLiteral("cards.csv"));
        const QString note = dir.filePath(QStringLiteral("cards.csv.unconfirmed"));
        QString hidden;
        {
            ChangeRecord record(path);
            hidden = record.keptPath();
            QCOMPARE(int(modeOf(hidden)), mode);
            QVERIFY(record.publish());
            QCOMPARE(RecordFile::writeNew(note, "a note\n"), QString());
            QCOMPARE(RecordFile::writeNew(note, "another\n"), QStringLiteral("已经存在"));
        }
        ::umask(previous);
        QCOMPARE(int(modeOf(path)), mode);
        QCOMPARE(int(modeOf(note)), mode);
        QCOMPARE(read(note), QByteArray("a note\n"));
    }

    // A file that appears at the name while the run works is not replaced: the record stays,
    // complete, where it was written, and says where.
    void publishNeverReplaces_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::newRow("a file appeared") << false;
        QTest::newRow("a folder appeared") << true;
    }
    void publishNeverReplaces()
    {
        QFETCH(bool, folder);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cards.csv"));
        ChangeRecord record(path);
        record.add({QStringLiteral("7"), QStringLiteral("07"), true, PasswordChange::Unchanged, 0});
        record.finish();
        record.commitSent();
        if (folder)
            QVERIFY(QDir().mkdir(path));
        else
            write(path, "someone else's\n");
        QString why;
        QVERIFY(!record.publish(&why));
        QCOMPARE(why, QStringLiteral("这期间出现了一个同名的文件或文件夹，没有替换它"));
        QVERIFY(record.keptPath() != path);
        QCOMPARE(read(record.keptPath()), ChangeRecord::signature() + "7,07,未变,0,读者\r\n");
        if (!folder)
            QCOMPARE(read(path), QByteArray("someone else's\n"));
    }

    // The thread that ends the process on a signal removes the files whose commit was not sent.
    void discardUnsent()
    {
        QTemporaryDir dir;
        ChangeRecord unsent(dir.filePath(QStringLiteral("a.csv")));
        ChangeRecord sent(dir.filePath(QStringLiteral("b.csv")));
        sent.finish();
        sent.commitSent();
        RecordFile::discardUnsent();
        QVERIFY(!QFile::exists(unsent.keptPath()));
        QVERIFY(QFile::exists(sent.keptPath()));
    }

    // What killed runs left beside the name: removed only where provably a leftover whose commit
    // was never sent; everything else named and kept.
    void leftovers()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cards.csv"));
        const QString other = dir.filePath(QStringLiteral("other.csv"));
        const QByteArray header = ChangeRecord::signature();
        const auto at = [&](const QString &name) { return dir.filePath(name); };
        write(at(".cards.csv.aB3dE9"), header + "7,07,未变,0,读者\r\n");   // killed before its commit
        write(at(".cards.csv.Zz0000"), "");                                 // killed before its header
        write(at(".cards.csv.Qq1111.committing"), header);                  // killed after sending its commit
        write(at(".cards.csv.Xx2222"), "not a record\n");                   // not ours
        write(at(".cards.csv.toolong7"), header);                           // not the pattern
        write(at(".other.csv.aB3dE9"), header);                             // another name's
        QVERIFY(::symlink("/etc/passwd", QFile::encodeName(at(".cards.csv.Ll3333")).constData()) == 0);
        // One that a running process holds.
        write(at(".cards.csv.Hh4444"), header);
        const int held = ::open(QFile::encodeName(at(".cards.csv.Hh4444")).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(held >= 0);
        QVERIFY(::flock(held, LOCK_EX) == 0);

        const RecordFile::Leftovers found = RecordFile::cleanLeftovers(path, header);
        ::close(held);
        QCOMPARE(found.removed, (QStringList{at(".cards.csv.Zz0000"), at(".cards.csv.aB3dE9")}));
        QCOMPARE(found.committing, QStringList{at(".cards.csv.Qq1111.committing")});
        QCOMPARE(found.inUse, QStringList{at(".cards.csv.Hh4444")});
        QCOMPARE(found.unknown, (QStringList{at(".cards.csv.Ll3333"), at(".cards.csv.Xx2222")}));
        QCOMPARE(entries(dir.path()),
                 (QStringList{".cards.csv.Hh4444", ".cards.csv.Ll3333", ".cards.csv.Qq1111.committing",
                              ".cards.csv.Xx2222", ".cards.csv.toolong7", ".other.csv.aB3dE9"}));
        QCOMPARE(RecordFile::cleanLeftovers(other, header).removed, QStringList{at(".other.csv.aB3dE9")});
    }
};

QTEST_GUILESS_MAIN(TestChangeRecord)
#include "tst_changerecord.moc"
