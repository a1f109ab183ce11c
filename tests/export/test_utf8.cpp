// Texts decoded for the workbook straight from the database's UTF-8 must be
// the very texts the store shows: the fast decoder takes well-formed input
// and gives way to the store's lenient decoding for everything else. What
// is well-formed is decided by the store's one validator.

#include "export/utf8.h"

#include <QRandomGenerator>
#include <QtTest>

#include <vector>

namespace {

// The fast decoding, or the lenient one where it refuses.
QString decoded(QByteArrayView bytes, bool &fast)
{
    std::vector<char16_t> buffer(size_t(bytes.size()) + 1);
    const qsizetype units = exporting::decodeUtf8(bytes, buffer.data());
    fast = units >= 0;
    return fast ? QString(reinterpret_cast<const QChar *>(buffer.data()), units) : exporting::decodeUtf8Lenient(bytes);
}

} // namespace

class TestUtf8 : public QObject {
    Q_OBJECT
private slots:
    void decodesAsTheStore_data();
    void decodesAsTheStore();
    void randomBytesDecodeAsTheStore();
};

void TestUtf8::decodesAsTheStore_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("wellFormed");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QByteArray() << true << QString();
    QTest::newRow("ascii") << QByteArray("Kokoro 1914") << true << QStringLiteral("Kokoro 1914");
    QTest::newRow("nul inside") << QByteArray("a\0b", 3) << true << QStringView(u"a\0b", 3).toString();
    QTest::newRow("japanese") << QByteArray("夏目漱石「こころ」") << true << QStringLiteral("夏目漱石「こころ」");
    QTest::newRow("two-byte") << QByteArray("\xC2\x80\xDF\xBF") << true << QStringLiteral(u"\u0080\u07FF");
    QTest::newRow("three-byte ends") << QByteArray("\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF") << true
                                     << QStringLiteral(u"\u0800\uD7FF\uE000\uFFFF");
    QTest::newRow("leading U+FEFF kept") << QByteArray("\xEF\xBB\xBF"
                                                       "abc")
                                         << true << QStringLiteral(u"\uFEFFabc");
    QTest::newRow("four-byte") << QByteArray("𠮷\xF4\x8F\xBF\xBF") << true << QStringLiteral(u"𠮷\U0010FFFF");
    QTest::newRow("stray continuation") << QByteArray("a\x80"
                                                      "b")
                                        << false << QStringLiteral(u"a\uFFFDb");
    QTest::newRow("overlong two-byte") << QByteArray("\xC0\x80") << false << QString();
    QTest::newRow("overlong three-byte") << QByteArray("\xE0\x80\x80") << false << QString();
    QTest::newRow("overlong four-byte") << QByteArray("\xF0\x80\x80\x80") << false << QString();
    QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80x") << false << QString();
    QTest::newRow("past U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false << QString();
    QTest::newRow("lead byte F5") << QByteArray("\xF5\x80\x80\x80") << false << QString();
    QTest::newRow("cut at the end") << QByteArray("あ\xE3\x81") << false << QString();
    QTest::newRow("continuation missing") << QByteArray("\xE3\x41\x42") << false << QString();
}

void TestUtf8::decodesAsTheStore()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, wellFormed);
    QFETCH(QString, text);
    bool fast = false;
    const QString got = decoded(bytes, fast);
    QCOMPARE(fast, wellFormed);
    // One rule of well-formedness for the store, the export and the Access stream.
    QCOMPARE(store::isValidUtf8(bytes), wellFormed);
    QCOMPARE(got, exporting::decodeUtf8Lenient(bytes));
    if (wellFormed || !text.isEmpty())
        QCOMPARE(got, text);
}

// Random mixtures of valid sequences and stray bytes: whichever way each
// is decoded, the text is the store's.
void TestUtf8::randomBytesDecodeAsTheStore()
{
    QRandomGenerator random(20261207);
    const QByteArray pieces[] = {"a",    "\x7F",        "\xC3\xA9", "\xE3\x81\x82", "\xF0\x9F\x98\x80",
                                 "\x80", "\xC3",        "\xE3\x81", "\xED\xB0\x80", "\xF8",
                                 "\xFF", "\xEF\xBB\xBF"};
    int fastOnes = 0;
    for (int round = 0; round < 5000; ++round) {
        QByteArray bytes;
        const int n = random.bounded(12);
        for (int i = 0; i < n; ++i)
            bytes += pieces[random.bounded(round % 2 ? 5 : int(std::size(pieces)))];
        bool fast = false;
        const QString got = decoded(bytes, fast);
        fastOnes += fast;
        QVERIFY2(got == exporting::decodeUtf8Lenient(bytes), bytes.toHex(' ').constData());
        // The validator agrees with the decoder, and with Qt's decoder:
        // well-formed bytes, and only they, come back unchanged.
        const bool roundTrip = exporting::decodeUtf8Lenient(bytes).toUtf8() == bytes;
        QVERIFY2(store::isValidUtf8(bytes) == fast && fast == roundTrip, bytes.toHex(' ').constData());
    }
    QVERIFY(fastOnes > 2500);
}

QTEST_GUILESS_MAIN(TestUtf8)
#include "test_utf8.moc"
