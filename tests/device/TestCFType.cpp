#include "CFType.h"

#include <QTest>
#include <QTimeZone>

class TestCFType : public QObject
{
    Q_OBJECT

private:
    static CFType parse(const char* xmlBody)
    {
        const QByteArray xml =
            QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">") + xmlBody +
            "</plist>";
        return CFType::fromPlistBytes(xml);
    }

private slots:
    void numbers()
    {
        const CFType big = parse("<integer>5000000000</integer>");
        QVERIFY(big.isNumber());
        QCOMPARE(big.toLongLong(), 5000000000LL);
        QCOMPARE(big.toDisplayText(), QStringLiteral("5000000000"));
        QCOMPARE(big.toInt(-1), -1); // does not fit 32 bits
        QCOMPARE(big.toDouble(), 5e9);

        const CFType negative = parse("<integer>-42</integer>");
        QCOMPARE(negative.toInt(), -42);
        QCOMPARE(negative.toDisplayText(), QStringLiteral("-42"));

        // Above the signed range: shown as written, and no signed value stands for it.
        const CFType huge = parse("<integer>18446744073709551615</integer>");
        QCOMPARE(huge.toDisplayText(), QStringLiteral("18446744073709551615"));
        QCOMPARE(huge.toLongLong(7), 7LL);
        QCOMPARE(huge.toDouble(), 18446744073709551615.0);
        QCOMPARE(parse("<integer>9223372036854775808</integer>").toDisplayText(),
                 QStringLiteral("9223372036854775808"));
        QCOMPARE(parse("<integer>-1</integer>").toDisplayText(), QStringLiteral("-1"));
        QCOMPARE(parse("<integer>-9223372036854775808</integer>").toLongLong(),
                 std::numeric_limits<qint64>::min());

        const CFType real = parse("<real>3.25</real>");
        QCOMPARE(real.toDouble(), 3.25);
        QCOMPARE(real.toInt(7), 7); // a fraction is not an integer
        QCOMPARE(real.toDisplayText(), QStringLiteral("3.25"));
        QCOMPARE(parse("<real>123456789.5</real>").toDisplayText(), QStringLiteral("1.23457e+08"));
        QCOMPARE(parse("<real>12</real>").toInt(), 12);
    }

    void booleansStringsAndData()
    {
        QCOMPARE(parse("<true/>").toDisplayText(), QStringLiteral("1"));
        QCOMPARE(parse("<false/>").toDisplayText(), QStringLiteral("0"));
        QVERIFY(parse("<true/>").toBool(false));
        QVERIFY(parse("<string>x</string>").toBool(true)); // wrong type: the default

        const CFType s = CFType::fromString(QStringLiteral("Grüße \u2603"));
        QVERIFY(s.isString());
        QCOMPARE(s.toString(), QStringLiteral("Grüße \u2603"));
        QCOMPARE(s.toInt(9), 9);
        QVERIFY(s.toByteArray().isNull());

        const CFType d = CFType::fromBytes(QByteArray("\x00\x01hi", 4));
        QVERIFY(d.isData());
        QCOMPARE(d.toByteArray(), QByteArray("\x00\x01hi", 4));
        QCOMPARE(CFType::fromBytes("caf\xc3\xa9").toDisplayText(), QStringLiteral("café"));
        QVERIFY(d.toString().isEmpty());
    }

    void dates()
    {
        // 2001-01-01 plus 86,400 seconds and 3723 seconds: 2001-01-02 01:02:03 UTC.
        const CFType date = parse("<date>2001-01-02T01:02:03Z</date>");
        QVERIFY(date.isDate());
        QCOMPARE(date.toDateTime(), QDateTime(QDate(2001, 1, 2), QTime(1, 2, 3), Qt::LocalTime));
        const QTimeZone plusTwo(2 * 3600);
        QCOMPARE(date.toDateTime(&plusTwo), QDateTime(QDate(2001, 1, 2), QTime(3, 2, 3), Qt::LocalTime));
        QVERIFY(!CFType::fromString(QStringLiteral("x")).toDateTime().isValid());
    }

    void containersAndLookups()
    {
        const CFType dict = parse("<dict><key>CurrentList</key><array><dict><key>CFBundleIdentifier</key>"
                                  "<string>com.example.a</string></dict></array><key>Status</key>"
                                  "<string>Complete</string></dict>");
        QVERIFY(dict.isDictionary());
        QCOMPARE(dict.value(QStringLiteral("Status")).toString(), QStringLiteral("Complete"));
        const CFType list = dict.value(QStringLiteral("CurrentList"));
        QCOMPARE(list.arrayCount(), 1);
        QCOMPARE(list.arrayValue(0).value(QStringLiteral("CFBundleIdentifier")).toString(),
                 QStringLiteral("com.example.a"));
        QVERIFY(list.arrayValue(5).isNull());
        QVERIFY(dict.value(QStringLiteral("Missing")).isNull());
        // Lookups on the wrong type or on null give null values with empty text.
        QVERIFY(list.value(QStringLiteral("x")).isNull());
        QCOMPARE(CFType().value(QStringLiteral("x")).toString(), QString());
        QCOMPARE(CFType().arrayCount(), 0);
        QCOMPARE(CFType().typeId(), int(CFType::NullType));
        QCOMPARE(dict.arrayCount(), 0);
    }

    void buildAndEncode()
    {
        CFType request = CFType::newDictionary();
        {
            CFType value = CFType::fromString(QStringLiteral("VendContainer"));
            request.setValue(CFType::fromString(QStringLiteral("Command")), value);
        } // the dictionary keeps its own copy
        request.setValue(CFType::fromString(QStringLiteral("Identifier")),
                         CFType::fromString(QStringLiteral("com.a")));
        request.setValue(CFType::fromString(QStringLiteral("Command")),
                         CFType::fromString(QStringLiteral("Browse")));
        const CFType copy = request; // shares the value
        QCOMPARE(copy.value(QStringLiteral("Command")).toString(), QStringLiteral("Browse"));

        const QByteArray xml = request.toPlistBytes(CFType::XmlFormat);
        QVERIFY(xml.contains("<key>Identifier</key>"));
        const QByteArray binary = request.toPlistBytes(CFType::BinaryFormat);
        QVERIFY(binary.startsWith("bplist00"));
        for (const QByteArray& bytes : {xml, binary}) {
            const CFType back = CFType::fromPlistBytes(bytes);
            QCOMPARE(back.value(QStringLiteral("Identifier")).toString(), QStringLiteral("com.a"));
        }
        CFType notADict = CFType::fromString(QStringLiteral("s"));
        notADict.setValue(CFType::fromString(QStringLiteral("k")), CFType::fromString(QStringLiteral("v")));
        QVERIFY(notADict.isString());
        QVERIFY(CFType().toPlistBytes(CFType::XmlFormat).isEmpty());
    }

    void parseFailuresGiveNull()
    {
        QVERIFY(CFType::fromPlistBytes(QByteArray()).isNull());
        QVERIFY(CFType::fromPlistBytes("not a property list").isNull());
        QVERIFY(CFType::fromPlistBytes(QByteArray("bplist00\xff\xff\xff", 11)).isNull());
    }
};

QTEST_GUILESS_MAIN(TestCFType)
#include "TestCFType.moc"
