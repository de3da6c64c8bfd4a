// The runtime's integer conversion: which texts are integers, their values, and the error text.

#include "platform/Exceptions.h"
#include "platform/IntConversion.h"

#include <QTest>

class TestIntConversion : public QObject
{
    Q_OBJECT

private slots:
    void accepted_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "9" << 9;
        QTest::newRow("leading zeros") << "0009" << 9;
        QTest::newRow("leading blanks") << "   12" << 12;
        QTest::newRow("plus") << "+7" << 7;
        QTest::newRow("minus") << "-5" << -5;
        QTest::newRow("blanks then sign") << "  -0" << 0;
        QTest::newRow("max") << "2147483647" << 2147483647;
        QTest::newRow("min") << "-2147483648" << int(-2147483647 - 1);
        QTest::newRow("dollar hex") << "$1F" << 31;
        QTest::newRow("x hex") << "x10" << 16;
        QTest::newRow("X hex") << "XfF" << 255;
        QTest::newRow("0x hex") << "0x0A" << 10;
        QTest::newRow("0X hex") << "0XA" << 10;
        QTest::newRow("blanks then hex") << " $10" << 16;
        QTest::newRow("eight hex digits wrap") << "$FFFFFFFF" << -1;
        QTest::newRow("hex sign bit") << "$80000000" << int(-2147483647 - 1);
        QTest::newRow("huge typo") << "99999999" << 99999999;
    }
    void accepted()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(StrToInt(text), value);
    }

    void rejected_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("blanks only") << "   ";
        QTest::newRow("trailing blank") << "9 ";
        QTest::newRow("tab before") << "\t9";
        QTest::newRow("sign only") << "-";
        QTest::newRow("double sign") << "--1";
        QTest::newRow("sign then blank") << "- 1";
        QTest::newRow("letters") << "abc";
        QTest::newRow("digits then letter") << "12a";
        QTest::newRow("decimal point") << "1.5";
        QTest::newRow("above max") << "2147483648";
        QTest::newRow("below min") << "-2147483649";
        QTest::newRow("far above max") << "99999999999999999999";
        QTest::newRow("prefix without digits") << "$";
        QTest::newRow("0x without digits") << "0x";
        QTest::newRow("signed hex") << "-$1";
        QTest::newRow("nine hex digits") << "$100000000";
        QTest::newRow("bad hex digit") << "$1G";
        QTest::newRow("full-width digit") << QStringLiteral("９");
    }
    void rejected()
    {
        QFETCH(QString, text);
        QVERIFY(!tryStrToInt(text).has_value());
        try {
            StrToInt(text);
            QFAIL("no error raised");
        } catch (const EConvertError &error) {
            QCOMPARE(error.message(), QStringLiteral("'%1' is not a valid integer value").arg(text));
        }
    }
};

QTEST_GUILESS_MAIN(TestIntConversion)
#include "tst_intconversion.moc"
