// The digit form of the stored login: encoding, the lenient decoder, and its errors.

#include "common/unGlobal.h"
#include "platform/AnsiCodec.h"
#include "platform/Exceptions.h"

#include <QTest>

class TestCodec : public QObject
{
    Q_OBJECT

private slots:
    void encode_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("digits");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("abc") << QByteArray("abc") << QByteArray("340334043407");
        QTest::newRow("sa") << QByteArray("sa") << QByteArray("37073403");
        QTest::newRow("zero byte") << QByteArray(1, '\0') << QByteArray("0000");
        QTest::newRow("all ones") << QByteArray(1, '\xFF') << QByteArray("7777");
        QTest::newRow("GBK 中") << QByteArray("\xD6\xD0") << QByteArray("73347300");
    }
    void encode()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, digits);
        QCOMPARE(EncodeParam(text), digits);
        QCOMPARE(DecodeParam(digits), text);
    }

    void decode_data()
    {
        QTest::addColumn<QByteArray>("digits");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("a") << QByteArray("3403") << QByteArray("a");
        QTest::newRow("lenient a") << QByteArray("2413") << QByteArray("a");
        QTest::newRow("lenient 6 for 7") << QByteArray("6666") << QByteArray("\xFF");
        QTest::newRow("seven digits") << QByteArray("3403340") << QByteArray();
        QTest::newRow("five digits") << QByteArray("34033") << QByteArray();
        QTest::newRow("one digit") << QByteArray("3") << QByteArray();
        // 8 and 9 read as 4, which carries into the next group's bits; only the low 8 bits stay.
        QTest::newRow("nine carries") << QByteArray("0009") << QByteArray("\x04");
        QTest::newRow("nines overflow") << QByteArray("9999") << QByteArray(1, '\x54');
    }
    void decode()
    {
        QFETCH(QByteArray, digits);
        QFETCH(QByteArray, text);
        QCOMPARE(DecodeParam(digits), text);
    }

    void decodeNonDigit_data()
    {
        QTest::addColumn<QByteArray>("digits");
        QTest::addColumn<QString>("offending");
        QTest::newRow("letter") << QByteArray("34a3") << "a";
        QTest::newRow("blank inside") << QByteArray("34 3") << " ";
        QTest::newRow("second group") << QByteArray("3403340x") << "x";
        QTest::newRow("sign") << QByteArray("-403") << "-";
    }
    void decodeNonDigit()
    {
        QFETCH(QByteArray, digits);
        QFETCH(QString, offending);
        try {
            DecodeParam(digits);
            QFAIL("no error raised");
        } catch (const EConvertError &error) {
            QCOMPARE(error.message(), QStringLiteral("'%1' is not a valid integer value").arg(offending));
        }
    }

    // A stored value whose length is not a multiple of 4 is not examined at all.
    void nonDigitInWrongLengthIsNotAnError()
    {
        QCOMPARE(DecodeParam("abc"), QByteArray());
    }

    void everyByteRoundTrips()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(static_cast<char>(b));
        const QByteArray digits = EncodeParam(all);
        QCOMPARE(digits.size(), all.size() * 4);
        for (const char c : digits)
            QVERIFY(c == '0' || c == '3' || c == '4' || c == '7');
        QCOMPARE(DecodeParam(digits), all);
    }

    // Texts become bytes in the locale's 8-bit code set before encoding: a Chinese login in GBK is
    // two bytes per character and comes back unchanged.
    void chineseTextThroughGbk()
    {
        const AnsiCodec gbk("GBK");
        QVERIFY(!gbk.isUtf8());
        const QString login = QStringLiteral("图书馆sa");
        const QByteArray bytes = gbk.fromUnicode(login);
        QCOMPARE(bytes.size(), 3 * 2 + 2);
        QCOMPARE(gbk.toUnicode(DecodeParam(EncodeParam(bytes))), login);
    }

    void asciiLocaleMeansUtf8()
    {
        QVERIFY(AnsiCodec("ANSI_X3.4-1968").isUtf8());
        QCOMPARE(AnsiCodec("UTF-8").fromUnicode(QStringLiteral("中")), QByteArray("\xE4\xB8\xAD"));
    }
};

QTEST_GUILESS_MAIN(TestCodec)
#include "tst_codec.moc"
