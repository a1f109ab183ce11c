#include "support/appdir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

using namespace testsupport;

namespace {

QString u(const char *utf8) { return QString::fromUtf8(utf8); }

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

// The program and its collection in a folder of their own, run from
// another working directory with no display, as a script runs it.
struct Program {
    AppDir dir;
    QTemporaryDir work;
    QString path = dir.path() + QStringLiteral("/bukurea");

    Program()
    {
        if (!QFile::copy(QStringLiteral(BUKUREA_EXECUTABLE), path)
            || !QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            qFatal("cannot install the program");
    }
    QString file(const char *name) const { return work.filePath(QString::fromUtf8(name)); }

    int status = -1;
    QStringList out, err;
    void operator()(const QStringList &arguments)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb")); // a window could not open
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(work.path());
        p.start(path, arguments);
        if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit)
            qFatal("the program did not end by itself");
        status = p.exitCode();
        out = QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        err = QString::fromUtf8(p.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
    }
};

const QList<Book> books = {
    book({"2", "坊っちゃん", "夏目漱石", nullptr, "1906", "文学", "棚\r\n上", "中", "\"松山\",教師"}),
    book({"1", "吾輩は猫である", "夏目漱石", "大倉書店", "1905", nullptr, nullptr, "可"}),
    book({nullptr, "〜番号のない本〜"}),
    book({"-3", " 前後に空白 ", "ｱｲｳ", nullptr, "0", "①㈱", nullptr, nullptr, "\\~"}),
};

} // namespace

// bukurea --export-csv and --import-csv as a script runs them.
class TestCsvCli : public QObject {
    Q_OBJECT
private slots:
    // Out and in again, in both encodings: the same rows, in 蔵書番号 order
    // (NULL first); blanks, quotes, commas, line breaks and NEC characters kept.
    void roundTrip_data()
    {
        QTest::addColumn<QStringList>("encoding");
        QTest::newRow("default") << QStringList{};
        QTest::newRow("utf-8") << QStringList{"--encoding", "utf-8"};
        QTest::newRow("cp932") << QStringList{"--encoding", "cp932"};
    }
    void roundTrip()
    {
        QFETCH(QStringList, encoding);
        Program run;
        run.dir.insert(books);
        run(QStringList{"--export-csv", "books.csv"} + encoding);
        QCOMPARE(run.err, QStringList());
        QCOMPARE(run.out, QStringList{u("4 冊を書き出しました。")});
        QCOMPARE(run.status, 0);
        QCOMPARE(contents(run.file("books.csv")).startsWith(csv_bom()), encoding.value(1) != QLatin1String("cp932"));
        run.dir.exec(QStringLiteral("DELETE FROM tabel"));
        run({"--import-csv", "books.csv"}); // the encoding found by itself
        QCOMPARE(run.err, QStringList());
        QCOMPARE(run.out, QStringList{u("4 冊を取り込みました。")});
        QCOMPARE(run.status, 0);
        QList<Book> expected = {books[2], books[3], books[1], books[0]};
        // Code page 932 has WAVE DASH only in the form Windows gives it.
        if (encoding.value(1) == QLatin1String("cp932"))
            expected[0][1] = u("～番号のない本～");
        QCOMPARE(run.dir.rows(), expected);
        QCOMPARE(QDir(run.dir.path() + QStringLiteral("/backup")).entryList(QDir::Files).size(), 1);
    }

    // Every refusal: one line per problem on standard error, a non-zero
    // status, and neither the file nor the collection touched.
    void refusals_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("file"); // put at "in.csv" first; "(none)" for none
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("said"); // each line of standard error, in part
        const QByteArray heading = u("蔵書番号,書名,貸出\r\n").toUtf8();
        QTest::newRow("export over a file")
            << QStringList{"--export-csv", "in.csv"} << QByteArray("old") << 1
            << QStringList{u("は既にあります。置き換えるには --force を付けてください。")};
        QTest::newRow("export to a folder") << QStringList{"--export-csv", "."} << QByteArray("(none)") << 1
                                            << QStringList{u("CSV ファイルを書き出せませんでした。")};
        QTest::newRow("export unencodable")
            << QStringList{"--export-csv", "new.csv", "--encoding", "cp932"} << QByteArray("(none)") << 1
            << QStringList{u("蔵書番号 3 の本（3 冊目）の「書名」にある文字「𠮷」"),
                           u("--encoding utf-8 なら書き出せます。")};
        QTest::newRow("unknown encoding")
            << QStringList{"--export-csv", "x.csv", "--encoding", "latin1"} << QByteArray("(none)") << 2
            << QStringList{"usage: bukurea --export-csv FILE"};
        QTest::newRow("import --force") << QStringList{"--import-csv", "in.csv", "--force"}
                                        << QByteArray("1,a,b,c,1,d,e,,f") << 2
                                        << QStringList{"usage: bukurea --import-csv FILE"};
        QTest::newRow("import without a file") << QStringList{"--import-csv"} << QByteArray("(none)") << 2
                                               << QStringList{"usage: bukurea --import-csv FILE"};
        QTest::newRow("import of a missing file") << QStringList{"--import-csv", "in.csv"} << QByteArray("(none)") << 1
                                                  << QStringList{u("CSV ファイルを読めません。")};
        QTest::newRow("import of an empty file") << QStringList{"--import-csv", "in.csv"} << QByteArray() << 1
                                                 << QStringList{u("ファイルが空です。"), u("何も取り込んでいません。")};
        QTest::newRow("import of bad lines")
            << QStringList{"--import-csv", "in.csv"} << heading + u("x,a,\r\n1,b,貸\r\n2,\"c\r\n").toUtf8() << 1
            << QStringList{u("in.csv: 2 行目: 蔵書番号「x」が整数ではありません"),
                           u("in.csv: 3 行目: 貸出「貸」は「可」「中」または空欄でなければなりません"),
                           u("in.csv: 4 行目: 引用符 (\") で始まる項目が閉じられないまま"),
                           u("何も取り込んでいません。")};
        QTest::newRow("import as UTF-8 of Shift_JIS")
            << QStringList{"--import-csv", "in.csv", "--encoding", "utf-8"} << heading + QByteArray("1,\x96\x7B,\r\n")
            << 1
            << QStringList{u("2 行目: 2 列目に UTF-8 として読めない文字があります"), u("何も取り込んでいません。")};
    }
    void refusals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, file);
        QFETCH(int, status);
        QFETCH(QStringList, said);
        Program run;
        run.dir.insert(books.mid(0, 2) + QList<Book>{book({"3", "𠮷野家"})});
        if (file != "(none)") {
            QFile f(run.file("in.csv"));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file) == file.size());
        }
        const QStringList before =
            QDir(run.work.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        run(arguments);
        QCOMPARE(run.status, status);
        QCOMPARE(run.out, QStringList());
        QCOMPARE(run.err.size(), said.size());
        for (int i = 0; i < said.size(); ++i)
            QVERIFY2(run.err[i].contains(said[i]), qPrintable(run.err[i]));
        QCOMPARE(run.dir.count(), 3);
        QVERIFY(!QFileInfo::exists(run.dir.path() + QStringLiteral("/backup")));
        QCOMPARE(QDir(run.work.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
        if (file != "(none)")
            QCOMPARE(contents(run.file("in.csv")), file);
    }

    // --force replaces the file, which is complete before it takes the name.
    void forceReplaces()
    {
        Program run;
        run.dir.insert(books);
        QFile f(run.file("out.csv"));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("old") == 3);
        f.close();
        run({"--export-csv", "out.csv", "--force"});
        QCOMPARE(run.status, 0);
        QVERIFY(contents(run.file("out.csv")).startsWith(csv_bom()));
    }

private:
    static QByteArray csv_bom() { return QByteArray("\xEF\xBB\xBF"); }
};

QTEST_GUILESS_MAIN(TestCsvCli)
#include "test_csv_cli.moc"
