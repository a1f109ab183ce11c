#include "jettest.h"

#include "store/accessconversion.h"
#include "store/booktable.h"
#include "store/connection.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace jettest;

namespace {

const QString brMdb = QStringLiteral("BR.mdb");

// A Jet file whose table `tabel` names 出版年 otherwise: the name is
// changed in the table's definition (page 24), character for character.
QByteArray withoutYearField()
{
    QByteArray bytes = readFile(fixture(QStringLiteral("jet4_tabel.mdb")));
    const QByteArray from = QByteArray(reinterpret_cast<const char *>(u"出版年"), 6);
    const QByteArray to = QByteArray(reinterpret_cast<const char *>(u"出版日"), 6);
    const qsizetype at = bytes.indexOf(from, 24 * 4096);
    if (at < 0 || at >= 25 * 4096)
        qFatal("the field name is not where it was");
    bytes.replace(at, from.size(), to);
    return bytes;
}

quint16 u16(const QByteArray &b, qsizetype at) { return quint16(uchar(b[at]) | uchar(b[at + 1]) << 8); }
void put16(QByteArray &b, qsizetype at, quint32 v) { b[at] = char(v), b[at + 1] = char(v >> 8); }

// jet4_tabel.mdb as the engine leaves it when a row grew beyond the room of
// its page: the third row (蔵書番号 12) moved to a new place, flagged so
// that a scan passes it, and at its old place a pointer to it.
QByteArray withMovedRow()
{
    QByteArray b = readFile(fixture(QStringLiteral("jet4_tabel.mdb")));
    const qsizetype page = 26 * 4096, table = page + 14; // the row offsets follow the row count at 12
    const int rows = u16(b, page + 12), moved = 2;
    const int start = u16(b, table + 2 * moved) & 0x1FFF, end = u16(b, table + 2 * (moved - 1)) & 0x1FFF;
    int lowest = 4096;
    for (int r = 0; r < rows; ++r)
        lowest = std::min(lowest, u16(b, table + 2 * r) & 0x1FFF);
    const int place = lowest - (end - start);
    b.replace(page + place, end - start, b.mid(page + start, end - start));
    put16(b, table + 2 * rows, quint32(place) | 0x8000);
    put16(b, page + 12, quint32(rows + 1));
    put16(b, page + start, quint32(rows) | 26u << 8); // row, then page (3 bytes)
    put16(b, page + start + 2, 0);
    put16(b, table + 2 * moved, quint32(start) | 0x4000);
    return b;
}

// Stands in for the reader: a shell script, given the file as $1.
store::AccessConversionOptions fakeReader(const QString &script)
{
    store::AccessConversionOptions o;
    o.readerProgram = QStringLiteral("/bin/sh");
    o.readerArguments = {QStringLiteral("-c"), script, QStringLiteral("reader")};
    o.stallTimeoutMs = 500;
    o.log = [](const QByteArray &) {};
    return o;
}

QString quietReader() { return program(QStringLiteral("bukurea-jet")) + QStringLiteral(" \"$1\" 2>/dev/null"); }

// Runs convert_helper on the collection at `path`; returns its exit code,
// -1 when it was killed.
int runHelper(const QString &path, const QString &killAt, QString *reason = nullptr, const QString &how = {})
{
    QProcess helper;
    QStringList args{path, killAt};
    if (!how.isEmpty())
        args << how;
    helper.start(program(QStringLiteral("convert_helper")), args);
    if (!helper.waitForFinished(60000))
        qFatal("the helper did not finish");
    if (reason)
        *reason = QString::fromUtf8(helper.readAllStandardOutput()).trimmed();
    return helper.exitStatus() == QProcess::CrashExit ? -1 : helper.exitCode();
}

bool isConvertedBookTable(const QString &path, int rows)
{
    try {
        store::Connection::open(path);
    } catch (const store::Error &) {
        return false;
    }
    return readDatabase(path).rows.size() == rows;
}

} // namespace

// Converting Access files: what arrives, what a failure leaves, and that
// the collection is never lost on the way.
class TestAccessConversion : public QObject {
    Q_OBJECT
private slots:
    void booktables_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("numberType");
        QTest::newRow("Access 2000") << "jet4_tabel.mdb"
                                     << "jet4_tabel.expected.jsonl"
                                     << "INTEGER";
        QTest::newRow("Access 2003") << "jet4_2003_tabel.mdb"
                                     << "jet4_tabel.expected.jsonl"
                                     << "INTEGER";
        QTest::newRow("numbers declared as text") << "jet4_text_numbers.mdb"
                                                  << "jet4_text_numbers.expected.jsonl"
                                                  << "TEXT";
    }
    // Cell for cell, with its type: NULL against "", 𠮷, CR LF, the
    // 255-character title, the duplicate 12, the NULL number, no deleted
    // row; "0012" and "昭和60" stay text. The columns keep their order and
    // the result opens as a book database.
    void booktables()
    {
        QFETCH(QString, file);
        QFETCH(QString, expected);
        QFETCH(QString, numberType);
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("new.mdb"));
        store::convertAccessFile(fixture(file), target);

        const Table t = readDatabase(target);
        QCOMPARE(t.columns, store::fieldNames());
        QCOMPARE(t.declaredTypes,
                 (QStringList{numberType, "TEXT", "TEXT", "TEXT", numberType, "TEXT", "TEXT", "TEXT", "TEXT"}));
        const QList<QJsonObject> rows = expectedRows(expected);
        QCOMPARE(t.rows.size(), rows.size());
        for (qsizetype r = 0; r < rows.size(); ++r) {
            for (qsizetype c = 0; c < t.columns.size(); ++c) {
                const QJsonValue want = rows[r].value(t.columns[c]);
                if (!sameCell(want, t.rows[r][c]))
                    QFAIL(qPrintable(
                        QStringLiteral("row %1 %2: %3 against %4")
                            .arg(r)
                            .arg(t.columns[c], t.rows[r][c].toString(),
                                 QString::fromUtf8(QJsonDocument(QJsonArray{want}).toJson(QJsonDocument::Compact)))));
            }
        }
        QVERIFY(isConvertedBookTable(target, int(rows.size())));
        QCOMPARE(entries(dir.path()), QStringList{"new.mdb"});
    }

    // A row that moved to another place is read where it stood: the table
    // keeps its order (the Jet library reads it at its new place).
    void movedRowKeepsItsPlace()
    {
        QTemporaryDir dir;
        const QString old = dir.filePath(QStringLiteral("old.mdb")), target = dir.filePath(QStringLiteral("new.mdb"));
        writeFile(old, withMovedRow());
        store::convertAccessFile(old, target);
        const Table t = readDatabase(target);
        const QList<QJsonObject> rows = expectedRows(QStringLiteral("jet4_tabel.expected.jsonl"));
        QCOMPARE(t.rows.size(), rows.size());
        for (qsizetype r = 0; r < rows.size(); ++r)
            QVERIFY2(sameCell(rows[r].value(QStringLiteral("書名")), t.rows[r][1]),
                     qPrintable(t.rows[r][1].toString()));
    }

    // Tables of other names, read by the reader itself: Jet 3 text in code
    // page 932 with its vendor characters, and the types table with its
    // memo of 60,000 bytes, dates, Yes/No, exact currency and doubles.
    void otherTables()
    {
        const Table jet3 = readAccess(fixture(QStringLiteral("jet3_cp932_9text.mdb")), QStringLiteral("Table1"));
        const QList<QJsonObject> want3 = expectedRows(QStringLiteral("jet3_cp932_9text.Table1.expected.jsonl"));
        QCOMPARE(jet3.columns,
                 (QStringList{"data1", "data3", "data4", "data5", "data6", "data7", "data8", "data9", "data10"}));
        QCOMPARE(jet3.rows.size(), want3.size());
        for (qsizetype r = 0; r < want3.size(); ++r) {
            for (qsizetype c = 0; c < jet3.columns.size(); ++c)
                QVERIFY2(sameCell(want3[r].value(jet3.columns[c]), jet3.rows[r][c]),
                         qPrintable(
                             QStringLiteral("row %1 %2: %3").arg(r).arg(jet3.columns[c], jet3.rows[r][c].toString())));
        }

        const Table types = readAccess(fixture(QStringLiteral("jet4_types.mdb")), QStringLiteral("types"));
        QCOMPARE(types.columns, (QStringList{"id", "memo", "dt", "flag", "price", "ratio"}));
        const QList<QByteArray> lines =
            readFile(fixture(QStringLiteral("jet4_types.expected.jsonl"))).trimmed().split('\n');
        QCOMPARE(types.rows.size(), lines.size());
        static const QRegularExpression price(QStringLiteral("\"price\": ([^,}]+)"));
        for (qsizetype r = 0; r < lines.size(); ++r) {
            const QJsonObject want = QJsonDocument::fromJson(lines[r]).object();
            const QList<QVariant> &got = types.rows[r];
            QVERIFY(sameCell(want.value("id"), got[0]));
            QVERIFY(sameCell(want.value("memo"), got[1])); // whole, NULL and "" apart
            QVERIFY(sameCell(want.value("flag"), got[3]));
            if (want.value("dt").isNull()) {
                QVERIFY(!got[2].isValid());
            } else {
                QCOMPARE(types.kinds[r][2], store::access::Kind::Date);
                QCOMPARE(QDateTime::fromString(got[2].toString(), Qt::ISODateWithMs),
                         QDateTime::fromString(want.value("dt").toString(), Qt::ISODate));
            }
            // Currency exactly as written, four decimals and all.
            const QString wantPrice = price.match(QString::fromUtf8(lines[r])).captured(1);
            QCOMPARE(got[4].isValid() ? got[4].toString() : QStringLiteral("null"), wantPrice);
            QCOMPARE(got[5].isValid() ? got[5].toDouble() : 0.0, want.value("ratio").toDouble());
        }
        QCOMPARE(types.rows[3][1].toString().toUtf8().size(), 60000);
    }

    void badInputs_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("script"); // a reader standing in for the real one
        QTest::addColumn<QString>("reason");
        const QByteArray tabel = readFile(fixture(QStringLiteral("jet4_tabel.mdb")));
        QByteArray noise(27 * 4096, Qt::Uninitialized);
        QRandomGenerator(11).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        const QString damaged = QStringLiteral("ファイルが壊れています");

        QTest::newRow("zero bytes") << QByteArray() << QString() << "Access のデータベース ファイルではありません";
        QTest::newRow("cut within a page") << tabel.left(50000) << QString() << damaged;
        QTest::newRow("cut at a page") << tabel.left(20 * 4096) << QString() << damaged;
        QTest::newRow("last page missing") << tabel.left(tabel.size() - 4096) << QString() << damaged;
        QTest::newRow("random bytes behind a header") << tabel.left(4096) + noise << QString() << damaged;
        QTest::newRow("no table tabel") << readFile(fixture(QStringLiteral("jet4_types.mdb"))) << QString()
                                        << "蔵書の表がありません";
        QTest::newRow("tabel without 出版年")
            << withoutYearField() << QString() << "蔵書の表に項目「出版年」がありません";
        QTest::newRow("reader hangs") << tabel << "exec sleep 30"
                                      << "読み取りが 1 秒間進まなかったため中止しました";
        QTest::newRow("reader crashes mid-way")
            << tabel << quietReader() + QStringLiteral(" | head -c 700; kill -SEGV $$")
            << "読み取りプログラム bukurea-jet が異常終了しました";
        QTest::newRow("reader talks nonsense") << tabel << "printf 'BKJT\\001T\\000\\000'"
                                               << "読み取りプログラム bukurea-jet の出力が不正です";
        QTest::newRow("reader stops short") << tabel << quietReader() + QStringLiteral(" | head -c 700")
                                            << "読み取りプログラム bukurea-jet の出力が不正です";
    }
    // Each leaves BR.mdb byte for byte as it was and nothing beside it, and
    // says which file and why.
    void badInputs()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, script);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath(brMdb);
        writeFile(path, bytes);
        const auto options = script.isEmpty() ? store::AccessConversionOptions{} : fakeReader(script);
        try {
            store::convertAccessFileInPlace(path, options);
            QFAIL("converted");
        } catch (const store::ConversionError &e) {
            QCOMPARE(e.reason(), reason);
            QCOMPARE(e.file(), path);
            QVERIFY(e.message().contains(path));
        }
        QCOMPARE(readFile(path), bytes);
        QCOMPARE(entries(dir.path()), QStringList{brMdb});
    }

    // A folder the user may not write to: nothing is written, BR.mdb stays.
    void readOnlyFolder()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(brMdb);
        QFile::copy(fixture(QStringLiteral("jet4_tabel.mdb")), path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        const auto readOnly = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                              | QFile::ExeOther;
        QFile::setPermissions(dir.path(), readOnly);
        QString reason;
        // Root writes anywhere: the conversion then runs as nobody.
        QCOMPARE(runHelper(path, QStringLiteral("never"), &reason, QStringLiteral("nobody")), 1);
        QFile::setPermissions(dir.path(), readOnly | QFile::WriteOwner);
        QCOMPARE(reason, QStringLiteral("アクセスが許可されていません"));
        QCOMPARE(readFile(path), readFile(fixture(QStringLiteral("jet4_tabel.mdb"))));
        QCOMPARE(entries(dir.path()), QStringList{brMdb});
    }

    void diskFull_data()
    {
        QTest::addColumn<int>("limit");
        QTest::newRow("while the new file is written") << 4 * 1024;
        QTest::newRow("while the original is copied") << 64 * 1024; // the new file has 20 books, the original 112 KB
    }
    // No room on the disk at any step: BR.mdb as it was, nothing beside it.
    void diskFull()
    {
        QFETCH(int, limit);
        QTemporaryDir dir;
        const QString path = dir.filePath(brMdb);
        const QByteArray original = readFile(fixture(QStringLiteral("jet4_tabel.mdb")));
        writeFile(path, original);
        QString reason;
        QCOMPARE(runHelper(path, QStringLiteral("never"), &reason, QStringLiteral("limit=%1").arg(limit)), 1);
        QVERIFY2(!reason.isEmpty(), "no reason given");
        QCOMPARE(readFile(path), original);
        QCOMPARE(entries(dir.path()), QStringList{brMdb});
    }

    // The original is kept under the first free name; files of the names
    // before it are never touched.
    void keepsOriginalUnderFreeName()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(brMdb);
        const QByteArray original = readFile(fixture(QStringLiteral("jet4_tabel.mdb")));
        writeFile(path, original);
        writeFile(path + ".access", "mine");
        writeFile(path + ".access.1", "mine too");
        QCOMPARE(store::keptOriginalPath(path), path + ".access.2");

        QCOMPARE(store::convertAccessFileInPlace(path), path + ".access.2");
        QCOMPARE(readFile(path + ".access"), QByteArray("mine"));
        QCOMPARE(readFile(path + ".access.1"), QByteArray("mine too"));
        QCOMPARE(readFile(path + ".access.2"), original);
        QVERIFY(isConvertedBookTable(path, 20));
        QCOMPARE(entries(dir.path()), (QStringList{brMdb, "BR.mdb.access", "BR.mdb.access.1", "BR.mdb.access.2"}));
        // Once converted it is no Access file any more.
        QVERIFY_THROWS_EXCEPTION(store::ConversionError, store::convertAccessFileInPlace(path));
    }

    void killed_data()
    {
        QTest::addColumn<QString>("killAt");
        QTest::addColumn<bool>("converted");
        QTest::newRow("while reading") << "reading" << false;
        QTest::newRow("new file written") << "written" << false;
        QTest::newRow("original kept") << "kept" << false;
        QTest::newRow("replaced") << "replaced" << true;
    }
    // Killed at any step, BR.mdb is the old file or the complete new one;
    // the next conversion clears what the killed one left.
    void killed()
    {
        QFETCH(QString, killAt);
        QFETCH(bool, converted);
        QTemporaryDir dir;
        const QString path = dir.filePath(brMdb);
        const QByteArray original = readFile(fixture(QStringLiteral("jet4_tabel.mdb")));
        writeFile(path, original);
        QCOMPARE(runHelper(path, killAt), -1);
        if (converted) {
            QVERIFY(isConvertedBookTable(path, 20));
            QCOMPARE(readFile(path + ".access"), original);
            return;
        }
        QCOMPARE(readFile(path), original);
        QCOMPARE(runHelper(path, QStringLiteral("never")), 0);
        QVERIFY(isConvertedBookTable(path, 20));
        // Killed after the original was kept, the second run keeps it again
        // under the next name; every kept file is the original.
        const QStringList left = entries(dir.path());
        const QStringList expected = killAt == QLatin1String("kept")
                                         ? QStringList{brMdb, "BR.mdb.access", "BR.mdb.access.1"}
                                         : QStringList{brMdb, "BR.mdb.access"};
        QCOMPARE(left, expected);
        for (const QString &name : left.mid(1))
            QCOMPARE(readFile(dir.filePath(name)), original);
    }

    // Files of the user's that look like what a conversion writes stay;
    // only a temporary of ours whose process is gone is cleared.
    void keepsLookAlikes()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(brMdb);
        writeFile(path, readFile(fixture(QStringLiteral("jet4_tabel.mdb"))));
        QProcess gone;
        gone.start(QStringLiteral("true"), {});
        gone.waitForStarted();
        const qint64 goneId = gone.processId();
        gone.waitForFinished();
        const QStringList users = {"BR.mdb.access-aB3dE9", "BR.mdb.converting-Xy12ab", ".BR.mdb.XyZ123"};
        for (const QString &f : users)
            writeFile(dir.filePath(f), "the user's");
        writeFile(dir.filePath(".BR.mdb.bukurea-" + QString::number(goneId) + "-aB3dE9.tmp"), "left by a kill");

        store::convertAccessFileInPlace(path);
        QVERIFY(isConvertedBookTable(path, 20));
        QCOMPARE(entries(dir.path()), (QStringList{".BR.mdb.XyZ123", brMdb, "BR.mdb.access", "BR.mdb.access-aB3dE9",
                                                   "BR.mdb.converting-Xy12ab"}));
        for (const QString &f : users)
            QCOMPARE(readFile(dir.filePath(f)), QByteArray("the user's"));
    }

    // A reader that keeps sending, a byte at a time, is stopped by the
    // overall time limit or by the user's キャンセル; either way BR.mdb
    // stays as it was and nothing is left beside it.
    void stopsTrickle_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QString>("reason");
        QTest::newRow("time limit") << false << "読み取りが 2 秒以内に終わらなかったため中止しました";
        QTest::newRow("キャンセル") << true << "変換を取り消しました";
    }
    void stopsTrickle()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(brMdb);
        const QByteArray original = readFile(fixture(QStringLiteral("jet4_tabel.mdb")));
        writeFile(path, original);
        QFETCH(bool, cancel);
        QFETCH(QString, reason);
        auto options =
            fakeReader(quietReader() + QStringLiteral(" | while dd bs=1 count=1 2>/dev/null; do sleep 0.05; done"));
        options.timeLimitMs = cancel ? 60000 : 1500;
        int asked = 0;
        if (cancel)
            options.cancelled = [&] { return ++asked > 5; };
        bool cancelled = false;
        try {
            store::convertAccessFileInPlace(path, options);
            QFAIL("converted");
        } catch (const store::ConversionCancelled &e) {
            cancelled = true;
            QCOMPARE(e.reason(), reason);
        } catch (const store::ConversionError &e) {
            QCOMPARE(e.reason(), reason);
        }
        QCOMPARE(cancelled, cancel);
        QCOMPARE(readFile(path), original);
        QCOMPARE(entries(dir.path()), QStringList{brMdb});
    }

    // The limit grows with the file: a large collection is never cut short.
    void timeLimitScales_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<qint64>("atLeastMs");
        QTest::newRow("empty") << qint64(0) << qint64(120000);
        QTest::newRow("the fixture, 112 KB") << qint64(112 * 1024) << qint64(120000);
        QTest::newRow("a million books, 200 MiB") << qint64(200) * 1024 * 1024 << qint64(30) * 60000;
    }
    void timeLimitScales()
    {
        QFETCH(qint64, bytes);
        QFETCH(qint64, atLeastMs);
        QVERIFY(store::defaultTimeLimitMs(bytes) >= atLeastMs);
        QVERIFY(store::defaultTimeLimitMs(bytes) <= atLeastMs * 2);
    }
};

QTEST_GUILESS_MAIN(TestAccessConversion)
#include "test_accessconversion.moc"
