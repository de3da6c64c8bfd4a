// The per-machine settings store: where keys live, how values read, and that writes are whole,
// keep the rest of the file and are refused cleanly where the user may not write.

#include "platform/Exceptions.h"
#include "platform/MachineStore.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>

#include <sys/stat.h>

namespace {
const QString SettingsKey = QStringLiteral("SOFTWARE\\Kestavo\\Lib");
const QString VendorKey = QStringLiteral("SOFTWARE\\Kestavo");
}

class TestMachineStore : public QObject
{
    Q_OBJECT

private slots:
    void keysMapToFilesUnderTheConfigurationDirectory()
    {
        testenv::SettingsDir dir;
        QCOMPARE(MachineStore::configDirectory(), dir.path());
        QCOMPARE(MachineStore::keyFile(SettingsKey), dir.path() + "/Kestavo/Lib.conf");
        QCOMPARE(MachineStore::keyFolder(VendorKey), dir.path() + "/Kestavo");

        qputenv("XDG_CONFIG_DIRS", QByteArray(dir.path().toLocal8Bit() + ":/somewhere/else"));
        QCOMPARE(MachineStore::configDirectory(), dir.path());
        qunsetenv("XDG_CONFIG_DIRS");
        QCOMPARE(MachineStore::configDirectory(), QStringLiteral("/etc/xdg"));
    }

    // The file Qt's own settings class reads for this organisation and application is the same one.
    void sameFileAsQtSystemSettings()
    {
        testenv::SettingsDir dir;
        const QSettings qt(QSettings::NativeFormat, QSettings::SystemScope, "Kestavo", "Lib");
        if (qt.fileName() != dir.libFile())
            QSKIP("this Qt does not follow XDG_CONFIG_DIRS for system settings");
        QCOMPARE(qt.fileName(), MachineStore::keyFile(SettingsKey));
    }

    void missingKey()
    {
        testenv::SettingsDir dir;
        MachineStore reg;
        QVERIFY(!reg.KeyExists(SettingsKey));
        QVERIFY(!reg.KeyExists(VendorKey));
        QVERIFY(!reg.OpenKeyReadOnly(SettingsKey));
        QCOMPARE(reg.ReadString("ODBCNAME"), QString());
    }

    void readValues_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("value");   // null: the read raises "Invalid data type"
        QTest::newRow("plain") << QByteArray("[General]\nODBCNAME=LibODBC\n") << "LibODBC";
        QTest::newRow("empty") << QByteArray("[General]\nODBCNAME=\n") << "";
        QTest::newRow("missing value") << QByteArray("[General]\nOTHER=1\n") << "";
        QTest::newRow("blanks kept for the caller") << QByteArray("[General]\nODBCNAME=\"  Lib  \"\n") << "  Lib  ";
        QTest::newRow("quoted comma") << QByteArray("[General]\nODBCNAME=\"a, b\"\n") << "a, b";
        QTest::newRow("digits") << QByteArray("[General]\nODBCNAME=340334043407\n") << "340334043407";
        QTest::newRow("chinese") << QByteArray("[General]\nODBCNAME=图书馆\n") << QStringLiteral("图书馆");
        QTest::newRow("no section") << QByteArray("ODBCNAME=Lib\n") << "Lib";
        QTest::newRow("list") << QByteArray("[General]\nODBCNAME=a, b\n") << QString();
        QTest::newRow("byte array") << QByteArray("[General]\nODBCNAME=@ByteArray(Lib)\n") << QString();
        QTest::newRow("variant") << QByteArray("[General]\nODBCNAME=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x1)\n") << QString();
        // Hand-edited files: one value per line, where Qt would run on into the next line.
        QTest::newRow("open quote ends with its line")
            << QByteArray("[General]\nODBCNAME=\"Lib\nUSERNAME=3403\n") << "Lib";
        QTest::newRow("backslash at the end of a line")
            << QByteArray("[General]\r\nODBCNAME=Lib\\\r\nUSERNAME=3403\r\n") << "Lib";
        QTest::newRow("damaged header, comments, byte-order mark")
            << QByteArray("\xef\xbb\xbf# by hand\n[General\n; the source\nODBCNAME=Lib\n") << "Lib";
        QTest::newRow("value only in another section") << QByteArray("[General]\n[Other]\nODBCNAME=Lib\n") << "";
    }
    void readValues()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, value);
        testenv::SettingsDir dir;
        dir.writeLibFile(file);
        MachineStore reg;
        QVERIFY(reg.KeyExists(SettingsKey));
        QVERIFY(reg.KeyExists(VendorKey));
        QVERIFY(reg.OpenKeyReadOnly(SettingsKey));
        if (value.isNull()) {
            try {
                reg.ReadString("ODBCNAME");
                QFAIL("no error raised");
            } catch (const ERegistryException &error) {
                QCOMPARE(error.message(), QStringLiteral("Invalid data type for 'ODBCNAME'"));
            }
        } else {
            QCOMPARE(reg.ReadString("ODBCNAME"), value);
        }
    }

    // Files as earlier versions wrote them, or as a person may have changed them, read exactly as
    // Qt's own settings class reads them: the same text, nothing, or a value of another type.
    void readsAsQtDoes_data()
    {
        QTest::addColumn<QByteArray>("file");
        const auto value = [](const char *name, const QByteArray &written) {
            QTest::newRow(name) << QByteArray("[General]\nODBCNAME=" + written + "\n");
        };
        value("plain", "LibODBC");
        value("empty", "");
        value("quoted blanks", "\"  Lib  \"");
        value("quoted ; , =", "\"a;b, c=d\"");
        value("escaped quotes and backslash", "\\\"q\\\" a\\\\b");
        value("control escapes", "a\\tb\\nc\\x1\\x66\\0");
        value("hex and octal", "\\x41\\101\\x4e2d");
        value("unknown escape", "a\\qb");
        value("escape at the end", "ab  \\");
        value("@@", "@@ByteArray(x)");
        value("@String", "@String(\\0\\x31)");
        value("UTF-8", "\xe5\x9b\xbe\xe4\xb9\xa6\xe9\xa6\x86");
        value("broken UTF-8", "a\xff\xfe" "b");
        value("blanks around unquoted", " \t x  y \t ");
        value("quoted then unquoted", "\"x\" y ");
        value("inline comment", "Lib ; the main one");
        value("quoted ; then comment", "\"a;b\" ; c");
        value("list", "a, b");
        value("quoted list", "\"a\", \"b\"");
        value("list of typed values", "@ByteArray(a), b");
        value("byte array", "@ByteArray(Lib)");
        value("variant holding a number", "@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x1)");
        value("variant holding a text", "@Variant(\\0\\0\\0\\n\\0\\0\\0\\x6\\0\\x61\\0\\x62\\0\\x63)");
        value("invalid", "@Invalid()");
        value("rectangle", "@Rect(1 2 3 4)");
        value("rectangle short of numbers", "@Rect(1 2)");
        value("unknown @ value", "@Foo(1)");
        value("@ without parenthesis", "@x");
        const auto file = [](const char *name, const QByteArray &content) { QTest::newRow(name) << content; };
        file("key in lower case", "[General]\nodbcname=Lib\n");
        file("key with escapes", "[General]\nODBC%4EAM%U0045=Lib\n");
        file("blanks around the key", "[General]\n  ODBCNAME\t = Lib\n");
        file("no header", "ODBCNAME=Lib\n");
        file("header in lower case", "[general]\nODBCNAME=Lib\n");
        file("header with blanks", "[ General ] ; main\nODBCNAME=Lib\n");
        file("header without ]", "[General\nODBCNAME=Lib\n");
        file("%General is another section", "[%General]\nODBCNAME=Lib\n");
        file("empty section name", "[]\nODBCNAME=Lib\n");
        file("only in another section", "[Other]\nODBCNAME=Lib\n");
        file("the last one counts", "ODBCNAME=First\n[General]\nODBCNAME=Second\n[Other]\nODBCNAME=x\n[General]\nODBCNAME=Third\n");
        file("byte-order mark", "\xef\xbb\xbf[General]\nODBCNAME=Lib\n");
        file("byte-order mark, no header", "\xef\xbb\xbfODBCNAME=Lib\n");
        file("CR LF", "[General]\r\nODBCNAME=Lib\r\n");
        file("CR", "[General]\rODBCNAME=Lib\r");
        file("comments and blank lines", "# by hand\n\n[General]\n; note\n  \n# ODBCNAME=Commented\nODBCNAME=Lib\n\n");
        file("no line end", "[General]\nODBCNAME=Lib");
        file("open quote, no line end", "[General]\nODBCNAME=\"Lib");
    }
    void readsAsQtDoes()
    {
        QFETCH(QByteArray, file);
        testenv::SettingsDir dir;
        dir.writeLibFile(file);
        const QSettings qt(dir.libFile(), QSettings::NativeFormat);
        const QVariant expected = qt.value("ODBCNAME");
        MachineStore reg;
        QVERIFY(reg.OpenKeyReadOnly(SettingsKey));
        try {
            const QString read = reg.ReadString("ODBCNAME");
            QVERIFY2(!expected.isValid() || expected.typeId() == QMetaType::QString,
                     qPrintable("Qt reads a " + QString::fromLatin1(expected.typeName()) + ", the store the text " + read));
            QCOMPARE(read, expected.toString());
        } catch (const ERegistryException &error) {
            QVERIFY2(expected.isValid() ? expected.typeId() != QMetaType::QString : qt.contains("ODBCNAME"),
                     qPrintable(error.message() + ", where Qt reads " + expected.toString()));
            QCOMPARE(error.message(), QStringLiteral("Invalid data type for 'ODBCNAME'"));
        }
    }

    // What the store writes, Qt's settings class reads back (an older version of the program may
    // read the file), and so does the store; it is written as Qt writes it.
    void writtenValuesReadBack_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("semicolon") << "a;b";
        QTest::newRow("comma") << "a,b";
        QTest::newRow("equals") << "a=b";
        QTest::newRow("quotes") << "\"quoted\" \"";
        QTest::newRow("backslash") << "back\\slash\\";
        QTest::newRow("leading blanks") << "  lead";
        QTest::newRow("trailing blanks") << "trail  ";
        QTest::newRow("blanks only") << "   ";
        QTest::newRow("chinese") << QStringLiteral("图书馆 数据源");
        QTest::newRow("leading @") << "@lead";
        QTest::newRow("looks like a byte array") << "@ByteArray(Lib)";
        QTest::newRow("empty") << "";
        QTest::newRow("control characters") << "a\tb\nc\r\x01" "f";
        QTest::newRow("NUL") << QString(QChar(u'\0')) + "1";
        QTest::newRow("comment characters") << "# ; [General]";
        QTest::newRow("outside the BMP") << QString::fromUtf8("\xf0\x9f\x93\x9a");
    }
    void writtenValuesReadBack()
    {
        QFETCH(QString, value);
        testenv::SettingsDir dir;
        dir.writeLibFile("");
        MachineStore reg;
        QVERIFY(reg.OpenKey(SettingsKey, false));
        reg.WriteString("ODBCNAME", value);
        reg.CloseKey();
        const QByteArray written = dir.readLibFile();

        MachineStore again;
        QVERIFY(again.OpenKeyReadOnly(SettingsKey));
        QCOMPARE(again.ReadString("ODBCNAME"), value);
        {
            const QSettings qt(dir.libFile(), QSettings::NativeFormat);
            QCOMPARE(qt.value("ODBCNAME").typeId(), QMetaType::QString);
            QCOMPARE(qt.value("ODBCNAME").toString(), value);
            QCOMPARE(qt.status(), QSettings::NoError);
        }

        testenv::SettingsDir byQt;
        byQt.writeLibFile("");
        {
            QSettings qt(byQt.libFile(), QSettings::NativeFormat);
            qt.setValue("ODBCNAME", value);
        }
        QCOMPARE(written, byQt.readLibFile());
    }

    // Whatever the umask, the store makes its folders 0755 and the file 0644: readable by every
    // user who runs the program, writable by its owner alone.
    void createAndWrite_data()
    {
        QTest::addColumn<int>("mask");
        QTest::newRow("umask 000") << 0;
        QTest::newRow("umask 022") << 022;
        QTest::newRow("umask 077") << 077;
    }
    void createAndWrite()
    {
        QFETCH(int, mask);
        testenv::SettingsDir dir;
        // The configuration directory itself does not exist yet either.
        const QString configDir = dir.path() + "/etc/xdg";
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(configDir));
        const mode_t oldMask = ::umask(static_cast<mode_t>(mask));
        MachineStore reg;
        reg.CreateKey(VendorKey);
        QVERIFY(QFileInfo(configDir + "/Kestavo").isDir());
        QVERIFY(!reg.KeyExists(SettingsKey));
        reg.CreateKey(SettingsKey);
        QVERIFY(reg.KeyExists(SettingsKey));
        QVERIFY(reg.OpenKey(SettingsKey, true));
        reg.WriteString("ODBCNAME", "Lib ODBC, main");
        reg.WriteString("USERNAME", "37073403");
        reg.WriteString("PASSWORD", "");
        reg.CloseKey();
        ::umask(oldMask);

        const auto modeOf = [](const QString &path) {
            struct stat st {};
            return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
        };
        for (const QString &folder : {dir.path() + "/etc", configDir, configDir + "/Kestavo"})
            QCOMPARE(QString::number(modeOf(folder), 8), QStringLiteral("755"));
        QCOMPARE(QString::number(modeOf(configDir + "/Kestavo/Lib.conf"), 8), QStringLiteral("644"));

        MachineStore again;
        QVERIFY(again.OpenKeyReadOnly(SettingsKey));
        QCOMPARE(again.ReadString("ODBCNAME"), QStringLiteral("Lib ODBC, main"));
        QCOMPARE(again.ReadString("USERNAME"), QStringLiteral("37073403"));
        QCOMPARE(again.ReadString("PASSWORD"), QString(""));
        QVERIFY(QDir(configDir + "/Kestavo").entryList(QDir::Files | QDir::Hidden).size() == 1);
    }

    void writeKeepsTheRestOfTheFile()
    {
        testenv::SettingsDir dir;
        dir.writeLibFile("[General]\nODBCNAME=Old\nCOMMENTED=kept\n\n[Other]\nKey=value\n");
        MachineStore reg;
        QVERIFY(reg.OpenKey(SettingsKey, false));
        reg.WriteString("ODBCNAME", "New");
        reg.CloseKey();
        QSettings check(dir.libFile(), QSettings::NativeFormat);
        QCOMPARE(check.value("ODBCNAME").toString(), QStringLiteral("New"));
        QCOMPARE(check.value("COMMENTED").toString(), QStringLiteral("kept"));
        QCOMPARE(check.value("Other/Key").toString(), QStringLiteral("value"));
    }

    // A line a plain INI parser cannot read (no "=" in it, or a header without "]") is no reason to
    // refuse a save or to call a save that reached the disk failed. Both ways the program writes:
    // straight away, and after reading the file first in the same process (as the dialog does).
    void writeBesideUnreadableLines_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("readFirst");
        const QByteArray hashAbove = "# written by the administrator\n[General]\nODBCNAME=Old\n";
        const QByteArray hashInOther = "[General]\nODBCNAME=Old\n\n[Other]\n# note\nKey=value\n";
        const QByteArray damagedHeader = "[General\nODBCNAME=Old\n";
        QTest::newRow("# line above [General], written straight away") << hashAbove << false;
        QTest::newRow("# line above [General], read first") << hashAbove << true;
        QTest::newRow("# line in another section, written straight away") << hashInOther << false;
        QTest::newRow("# line in another section, read first") << hashInOther << true;
        QTest::newRow("[General without ], written straight away") << damagedHeader << false;
        QTest::newRow("[General without ], read first") << damagedHeader << true;
    }
    void writeBesideUnreadableLines()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, readFirst);
        testenv::SettingsDir dir;
        dir.writeLibFile(file);
        if (readFirst) {
            MachineStore reader;
            QVERIFY(reader.OpenKeyReadOnly(SettingsKey));
            QCOMPARE(reader.ReadString("ODBCNAME"), QStringLiteral("Old"));
        }
        MachineStore reg;
        QVERIFY2(reg.OpenKey(SettingsKey, false), "the key was not opened for writing");
        try {
            reg.WriteString("ODBCNAME", "New");
        } catch (const ERegistryException &error) {
            QFAIL(qPrintable(error.message() + " raised; the file then held:\n" + QString::fromUtf8(dir.readLibFile())));
        }
        reg.CloseKey();
        MachineStore again;
        QVERIFY(again.OpenKeyReadOnly(SettingsKey));
        QCOMPARE(again.ReadString("ODBCNAME"), QStringLiteral("New"));
    }

    // As a user who may not write there: creating keys raises, opening for writing says no,
    // reading a file the user may not read counts as no key at all.
    void unprivilegedUser()
    {
        testenv::SettingsDir dir;
        // The configuration directory belongs to root: no vendor folder can be made in it.
        QCOMPARE(testenv::runUnprivileged([] {
                     MachineStore reg;
                     try {
                         reg.CreateKey(VendorKey);
                     } catch (const ERegistryException &error) {
                         return error.message() == "Failed to create key SOFTWARE\\Kestavo" ? 0 : 2;
                     }
                     return 1;
                 }),
                 0);
        dir.writeLibFile("[General]\nODBCNAME=Lib\n");
        const QByteArray before = dir.readLibFile();
        QCOMPARE(testenv::runUnprivileged([] {
                     MachineStore reg;
                     if (!reg.KeyExists(SettingsKey) || !reg.OpenKeyReadOnly(SettingsKey))
                         return 1;
                     if (reg.ReadString("ODBCNAME") != "Lib")
                         return 2;
                     return reg.OpenKey(SettingsKey, true) ? 3 : 0;
                 }),
                 0);
        QCOMPARE(dir.readLibFile(), before);

        QFile::setPermissions(dir.libFile(), QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(testenv::runUnprivileged([] {
                     MachineStore reg;
                     return (!reg.KeyExists(SettingsKey) && !reg.OpenKeyReadOnly(SettingsKey)) ? 0 : 1;
                 }),
                 0);
    }

    // A write that cannot reach the disk raises, leaves the file as it was, and is not written later.
    void failedWriteLeavesTheFileWhole()
    {
        testenv::SettingsDir dir;
        dir.writeLibFile("[General]\nODBCNAME=Old\n");
        const QString folder = dir.path() + "/Kestavo";
        testenv::giveToNobody(folder);
        testenv::giveToNobody(dir.libFile());
        const QByteArray before = dir.readLibFile();
        QCOMPARE(testenv::runUnprivileged([folder] {
                     MachineStore reg;
                     if (!reg.OpenKey(SettingsKey, false))
                         return 1;
                     // The folder becomes read-only after the key was opened: the new file cannot be made.
                     QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
                     try {
                         reg.WriteString("ODBCNAME", "New");
                     } catch (const ERegistryException &error) {
                         return error.message() == "Failed to set data for 'ODBCNAME'" ? 0 : 2;
                     }
                     return 3;
                 }),
                 0);
        QCOMPARE(dir.readLibFile(), before);
        QVERIFY(QDir(folder).entryList(QDir::Files | QDir::Hidden).size() == 1);
    }
};

QTEST_GUILESS_MAIN(TestMachineStore)
#include "tst_machinestore.moc"
