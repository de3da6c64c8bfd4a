// norvel-pad's command line: what it accepts, and the one-line message for what it does not.

#include "PadOptions.h"

#include <QTest>

class TestPadOptions : public QObject
{
    Q_OBJECT

private slots:
    void accepted_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("length");
        QTest::addColumn<bool>("apply");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QString>("changes");
        QTest::addColumn<QString>("dsn");
        QTest::newRow("nothing: a preview at 9") << QStringList{} << "9" << false << false << QString() << QString();
        QTest::newRow("length as the field takes it") << QStringList{"--length", " $1F"} << " $1F" << false << false
                                                      << QString() << QString();
        QTest::newRow("apply with yes and a record")
            << QStringList{"--apply", "--yes", "--changes=out.csv"} << "9" << true << true << "out.csv" << QString();
        QTest::newRow("another data source") << QStringList{"--dsn", "Lib2", "--user", "sa", "--length=6"} << "6" << false
                                             << false << QString() << "Lib2";
    }
    void accepted()
    {
        QFETCH(QStringList, arguments);
        QString error;
        const std::optional<PadOptions> options = parsePadOptions(arguments, error);
        QVERIFY2(options, qPrintable(error));
        QTEST(options->length, "length");
        QTEST(options->apply, "apply");
        QTEST(options->yes, "yes");
        QTEST(options->changesFile, "changes");
        QTEST(options->dsn, "dsn");
    }

    void refused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown option") << QStringList{"--force"} << "未知的选项--force";
        QTest::newRow("stray argument") << QStringList{"9"} << "多余的参数9";
        QTest::newRow("missing value") << QStringList{"--length"} << "选项--length需要一个值";
        QTest::newRow("value on a flag") << QStringList{"--apply=1"} << "选项--apply不带值";
        QTest::newRow("yes alone") << QStringList{"--yes"} << "--yes只和--apply一起使用";
        QTest::newRow("dsn alone") << QStringList{"--dsn", "X"} << "--dsn和--user要一起给出";
        QTest::newRow("user alone") << QStringList{"--user", "sa"} << "--dsn和--user要一起给出";
        QTest::newRow("empty record name") << QStringList{"--changes="} << "--changes需要一个文件名";
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
