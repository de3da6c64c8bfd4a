// norvel-pad's command line: what each option sets, and the one-line message for what it does not
// take. (What each option then does is checked in tst_padcommand.)

#include "PadOptions.h"

#include <QTest>

class TestPadOptions : public QObject
{
    Q_OBJECT

private slots:
    void accepted_data()
    {
        QTest::addColumn<QStringList>("arguments");
        // The options as "field=value" pairs, each field compared; fields not named keep their defaults.
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("nothing: a preview at 9") << QStringList{} << QStringList{};
        QTest::newRow("length as the window's field converts it")
            << QStringList{"--length", " $1F"} << QStringList{"length=31"};
        QTest::newRow("the shortest length") << QStringList{"--length=2"} << QStringList{"length=2"};
        QTest::newRow("apply") << QStringList{"--apply"} << QStringList{"apply=1"};
        QTest::newRow("apply with yes") << QStringList{"--apply", "--yes"} << QStringList{"apply=1", "yes=1"};
        QTest::newRow("sql") << QStringList{"--sql"} << QStringList{"sql=1"};
        QTest::newRow("a record") << QStringList{"--changes=out.csv"} << QStringList{"changes=out.csv"};
        QTest::newRow("a sheet") << QStringList{"--sheet", "out.XLSX"} << QStringList{"sheet=out.XLSX"};
        QTest::newRow("record and sheet") << QStringList{"--changes", "r.csv", "--sheet", "r.xlsx"}
                                          << QStringList{"changes=r.csv", "sheet=r.xlsx"};
        QTest::newRow("lock timeout") << QStringList{"--lock-timeout", "30"} << QStringList{"lockTimeout=30"};
        QTest::newRow("lock timeout 0: no limit") << QStringList{"--lock-timeout=0"} << QStringList{"lockTimeout=0"};
        QTest::newRow("another data source") << QStringList{"--dsn", "Lib2", "--user", "sa", "--length=6"}
                                             << QStringList{"dsn=Lib2", "user=sa", "length=6"};
        QTest::newRow("help") << QStringList{"-h"} << QStringList{"help=1"};
        QTest::newRow("help wins over the rest") << QStringList{"--help", "--length", "x"} << QStringList{"help=1"};
        QTest::newRow("version") << QStringList{"--version"} << QStringList{"version=1"};
        QTest::newRow("other columns, repeatable") << QStringList{"--also", "lib_fine.fi_card", "--also=s.\"Hold \"\"x\"\"\".card"}
                                                   << QStringList{"also=lib_fine.fi_card|s.Hold \"x\".card"};
        QTest::newRow("no scan") << QStringList{"--no-scan"} << QStringList{"noScan=1"};
        QTest::newRow("undo") << QStringList{"--undo", "r.csv"} << QStringList{"undo=r.csv"};
        QTest::newRow("undo, partial, moved, applied") << QStringList{"--undo=r.csv", "--partial", "--database-moved", "--apply", "--yes"}
                                                       << QStringList{"undo=r.csv", "partial=1", "moved=1", "apply=1", "yes=1"};
        QTest::newRow("the journal") << QStringList{"--runs"} << QStringList{"runs=1"};
    }
    void accepted()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, expected);
        QString error;
        const std::optional<PadOptions> options = parsePadOptions(arguments, error);
        QVERIFY2(options, qPrintable(error));
        const QList<QPair<QString, QString>> fields{
            {"length", QString::number(options->length)},
            {"apply", QString::number(options->apply)},
            {"yes", QString::number(options->yes)},
            {"sql", QString::number(options->showSql)},
            {"changes", options->changesFile},
            {"sheet", options->sheetFile},
            {"lockTimeout", QString::number(options->lockTimeout)},
            {"dsn", options->dsn},
            {"user", options->user},
            {"help", QString::number(options->help)},
            {"version", QString::number(options->version)},
            {"also", [&] {
                 QStringList names;
                 for (const AlsoColumn &column : options->also)
                     names << column.name();
                 return names.join(u'|');
             }()},
            {"noScan", QString::number(options->noScan)},
            {"undo", options->undoRecord},
            {"partial", QString::number(options->partial)},
            {"moved", QString::number(options->databaseMoved)},
            {"runs", QString::number(options->runs)},
        };
        const QStringList defaults{"length=9", "apply=0", "yes=0", "sql=0", "changes=", "sheet=", "lockTimeout=0",
                                   "dsn=", "user=", "help=0", "version=0", "also=", "noScan=0", "undo=", "partial=0", "moved=0",
                                   "runs=0"};
        for (const auto &[name, value] : fields) {
            QString want;
            for (const QString &pair : expected + defaults) {
                if (pair.section(u'=', 0, 0) == name) {
                    want = pair.section(u'=', 1);
                    break;
                }
            }
            QVERIFY2(value == want, qPrintable(QStringLiteral("%1 is '%2', not '%3'").arg(name, value, want)));
        }
    }

    void refused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown option") << QStringList{"--force"} << "未知的选项--force";
        QTest::newRow("unknown short option") << QStringList{"-y"} << "未知的选项-y";
        QTest::newRow("stray argument") << QStringList{"9"} << "多余的参数9";
        QTest::newRow("missing value") << QStringList{"--length"} << "选项--length需要一个值";
        QTest::newRow("value on a flag") << QStringList{"--apply=1"} << "选项--apply不带值";
        QTest::newRow("yes alone") << QStringList{"--yes"} << "--yes只和--apply一起使用";
        QTest::newRow("dsn alone") << QStringList{"--dsn", "X"} << "--dsn和--user要一起给出";
        QTest::newRow("user alone") << QStringList{"--user", "sa"} << "--dsn和--user要一起给出";
        QTest::newRow("empty record name") << QStringList{"--changes="} << "选项--changes的值是空的";
        QTest::newRow("empty data source") << QStringList{"--dsn", "", "--user", "sa"} << "选项--dsn的值是空的";
        QTest::newRow("empty user") << QStringList{"--dsn", "Lib", "--user="} << "选项--user的值是空的";
        QTest::newRow("repeated length") << QStringList{"--length", "9", "--length", "3"} << "选项--length给了不止一次";
        QTest::newRow("a column name that is none") << QStringList{"--also", "bad..name"} << "--also bad..name：“bad..name”不是“表.字段”形式的名称";
        QTest::newRow("a column twice") << QStringList{"--also", "a.b", "--also", "a.b"} << "--also a.b给了不止一次";
        QTest::newRow("the journal and a run") << QStringList{"--runs", "--apply"} << "--runs只列出处理日志，不和--apply一起使用";
        QTest::newRow("an undo with a length") << QStringList{"--undo", "r.csv", "--length", "5"} << "--undo按变更记录撤销（长度和一起补0的列都取自记录），不和--length一起使用";
        QTest::newRow("an undo with other columns") << QStringList{"--undo", "r.csv", "--also", "a.b"} << "--undo按变更记录撤销（长度和一起补0的列都取自记录），不和--also一起使用";
        QTest::newRow("partial without an undo") << QStringList{"--partial"} << "--partial只和--undo一起使用";
        QTest::newRow("moved without an undo") << QStringList{"--database-moved"} << "--database-moved只和--undo一起使用";
        QTest::newRow("repeated flag") << QStringList{"--apply", "--apply"} << "选项--apply给了不止一次";
        QTest::newRow("length with a letter O") << QStringList{"--length", "9O"} << "借书证长度“9O”不是整数";
        QTest::newRow("length with a blank after") << QStringList{"--length=9 "} << "借书证长度“9 ”不是整数";
        QTest::newRow("length 0") << QStringList{"--length", "0"} << "借书证长度至少为2，不能是0";
        QTest::newRow("length 1") << QStringList{"--length=1"} << "借书证长度至少为2，不能是1";
        QTest::newRow("length -3") << QStringList{"--length", "-3"} << "借书证长度至少为2，不能是-3";
        QTest::newRow("lock timeout not a number")
            << QStringList{"--lock-timeout", "2s"} << "--lock-timeout需要一个秒数（0或正整数），不能是“2s”";
        QTest::newRow("lock timeout negative")
            << QStringList{"--lock-timeout=-1"} << "--lock-timeout需要一个秒数（0或正整数），不能是“-1”";
        QTest::newRow("sheet that is no .xlsx") << QStringList{"--sheet", "cards.csv"} << "--sheet的文件名要以.xlsx结尾：cards.csv";
        QTest::newRow("record and sheet the same file")
            << QStringList{"--changes", "c.xlsx", "--sheet", "./c.xlsx"} << "--changes和--sheet不能是同一个文件";
    }
    void refused()
    {
        QFETCH(QStringList, arguments);
        QString error;
        QVERIFY(!parsePadOptions(arguments, error));
        QTEST(error, "message");
    }
};

QTEST_GUILESS_MAIN(TestPadOptions)
#include "tst_padoptions.moc"
