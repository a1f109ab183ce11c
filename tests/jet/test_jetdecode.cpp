#include "jet/jetdecode.h"

#include <QTest>

namespace {

QByteArray bytes(std::initializer_list<int> b)
{
    QByteArray out;
    for (int c : b)
        out += char(c);
    return out;
}

const unsigned char *raw(const QByteArray &b) { return reinterpret_cast<const unsigned char *>(b.constData()); }

QString jet4(const QByteArray &b, int *bad)
{
    return QString::fromStdString(jet::jet4Text(raw(b), size_t(b.size()), bad));
}

} // namespace

// The decoding of stored values that the Jet library gets wrong or leaves
// out, rule by rule.
class TestJetDecode : public QObject {
    Q_OBJECT
private slots:
    void jet4Text_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("bad");
        QTest::newRow("UTF-16") << bytes({0x42, 0x30, 0x41, 0x00}) << "あA" << 0;
        QTest::newRow("outside the BMP") << bytes({0x42, 0xD8, 0xB7, 0xDF, 0xCE, 0x91}) << "𠮷野" << 0;
        QTest::newRow("compressed") << bytes({0xFF, 0xFE, 'a', 'b', 'c'}) << "abc" << 0;
        // One byte a character, 0x00 to two bytes, 0x00 back.
        QTest::newRow("compressed with a wide run")
            << bytes({0xFF, 0xFE, 'x', 0x00, 0x42, 0x30, 0x42, 0xD8, 0xB7, 0xDF, 0x00, 'y'}) << "xあ𠮷y" << 0;
        QTest::newRow("empty") << QByteArray() << "" << 0;
        QTest::newRow("a lone surrogate") << bytes({0x42, 0xD8, 0x41, 0x00}) << "\uFFFDA" << 1;
        QTest::newRow("an odd byte") << bytes({0x41, 0x00, 0x42}) << "A\uFFFD" << 1;
    }
    void jet4Text()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, text);
        QFETCH(int, bad);
        int counted = 0;
        QCOMPARE(jet4(stored, &counted), text);
        QCOMPARE(counted, bad);
    }

    void cp932_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("bad");
        QTest::newRow("vendor characters") << QByteArray("\x87\x40\x87\x8A\xFB\xFC\xED\x40") << "①㈱髙纊" << 0;
        QTest::newRow("second byte 0x5C")
            << QByteArray("\x95\x5C\x83\x5C\x94\x5C\x8F\x5C\x97\x5C") << "表ソ能十予" << 0;
        QTest::newRow("as Windows maps them")
            << QByteArray("\x81\x60\x81\x7C\x5C\x7E\x81\x5F") << "\uFF5E\uFF0D\\~\uFF3C" << 0;
        QTest::newRow("half-width kana") << QByteArray("\xB6\xC0\xB6\xC5") << "ｶﾀｶﾅ" << 0;
        QTest::newRow("user-defined area") << QByteArray("\xF0\x40") << "\uE000" << 0;
        QTest::newRow("single bytes Windows keeps")
            << QByteArray("\x80\xA0\xFD\xFE\xFF") << "\u0080\uF8F0\uF8F1\uF8F2\uF8F3" << 0;
        QTest::newRow("no such character") << QByteArray("a\x85\x40") << "a\uFFFD@" << 1;
        QTest::newRow("a lead byte at the end") << QByteArray("a\x82") << "a\uFFFD" << 1;
    }
    void cp932()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, text);
        QFETCH(int, bad);
        jet::Cp932 cp;
        QVERIFY(cp.ok());
        int counted = 0;
        QCOMPARE(QString::fromStdString(cp.decode(raw(stored), size_t(stored.size()), &counted)), text);
        QCOMPARE(counted, bad);
    }

    void dates_data()
    {
        QTest::addColumn<double>("days");
        QTest::addColumn<QString>("text");
        QTest::newRow("day zero") << 0.0 << "1899-12-30T00:00:00";
        QTest::newRow("leap day") << 45351.3541666667 << "2024-02-29T08:30:00";
        QTest::newRow("one second to midnight") << 36525.999988425923 << "1999-12-31T23:59:59";
        QTest::newRow("rounds into the next day") << 36525.99999999999 << "2000-01-01T00:00:00";
        QTest::newRow("milliseconds") << 0.5 + 0.25 / 86400.0 << "1899-12-30T12:00:00.250";
        // Below zero the whole part counts back, the fraction is still the time.
        QTest::newRow("before day zero") << -1.25 << "1899-12-29T06:00:00";
        QTest::newRow("1600") << -109571.5 << "1600-01-01T12:00:00";
        QTest::newRow("year 100") << -657434.0 << "0100-01-01T00:00:00";
        QTest::newRow("year 9999") << 2958465.0 << "9999-12-31T00:00:00";
        QTest::newRow("before year 100") << -657435.0 << "";
        QTest::newRow("after 9999") << 2958466.0 << "";
        QTest::newRow("not a number") << std::nan("") << "";
    }
    void dates()
    {
        QFETCH(double, days);
        QFETCH(QString, text);
        const auto got = jet::dateText(days);
        QCOMPARE(got ? QString::fromStdString(*got) : QString(), text);
    }

    void numbers()
    {
        QCOMPARE(jet::currencyText(12345678), std::string("1234.5678"));
        QCOMPARE(jet::currencyText(0), std::string("0.0000"));
        QCOMPARE(jet::currencyText(-1), std::string("-0.0001"));
        QCOMPARE(jet::currencyText(INT64_MAX), std::string("922337203685477.5807"));
        QCOMPARE(jet::currencyText(INT64_MIN), std::string("-922337203685477.5808"));

        // Sign byte, then four 32-bit words, the most significant first.
        const QByteArray d = bytes({0x80, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x39, 0x30, 0, 0});
        QCOMPARE(*jet::decimalText(raw(d), 2), std::string("-42949796.41")); // -(2^32 + 12345) / 100
        QCOMPARE(*jet::decimalText(raw(d), 0), std::string("-4294979641"));
        const QByteArray small = bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0});
        QCOMPARE(*jet::decimalText(raw(small), 3), std::string("0.005"));
        const QByteArray negativeZero = bytes({0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        QCOMPARE(*jet::decimalText(raw(negativeZero), 2), std::string("0.00"));
        QVERIFY(!jet::decimalText(raw(small), 39));
    }
};

QTEST_GUILESS_MAIN(TestJetDecode)
#include "test_jetdecode.moc"
