#include "jettest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <unistd.h>

using namespace jettest;

namespace {

struct Run {
    int status;
    QStringList errorLines;
};

Run bukurea(const QStringList &arguments)
{
    QProcess p;
    p.start(program(QStringLiteral("bukurea")), arguments);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        qFatal("bukurea did not end normally");
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts)};
}

} // namespace

// bukurea --convert-access OLD NEW, as a script runs it: no window, one
// line per problem, the exit status, and NEW never overwritten.
class TestConvertCommand : public QObject {
    Q_OBJECT
private slots:
    void converts()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("new.mdb"));
        const QString source = fixture(QStringLiteral("jet4_tabel.mdb"));
        const QByteArray before = readFile(source);
        const Run r = bukurea({QStringLiteral("--convert-access"), source, target});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.errorLines, QStringList());
        QCOMPARE(readDatabase(target).rows.size(), 20);
        QCOMPARE(readFile(source), before);
        QCOMPARE(entries(dir.path()), QStringList{"new.mdb"});
    }

    void refuses_data()
    {
        QTest::addColumn<QByteArray>("old");
        QTest::addColumn<bool>("newExists");
        QTest::addColumn<QString>("line");
        const QByteArray tabel = readFile(fixture(QStringLiteral("jet4_tabel.mdb")));
        QTest::newRow("NEW exists") << tabel << true << "NEW: 同じ名前のものが既にあります";
        QTest::newRow("OLD no Access file")
            << QByteArray("SQLite format 3") << false << "OLD: Access のデータベース ファイルではありません";
        QTest::newRow("OLD without tabel")
            << readFile(fixture(QStringLiteral("jet4_types.mdb"))) << false << "OLD: 蔵書の表がありません";
    }
    void refuses()
    {
        QFETCH(QByteArray, old);
        QFETCH(bool, newExists);
        QFETCH(QString, line);
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("OLD")), target = dir.filePath(QStringLiteral("NEW"));
        writeFile(source, old);
        if (newExists)
            writeFile(target, "keep me");
        const Run r = bukurea({QStringLiteral("--convert-access"), source, target});
        QCOMPARE(r.status, 1);
        QCOMPARE(r.errorLines, QStringList{"bukurea --convert-access: " + dir.filePath(line)});
        QCOMPARE(readFile(source), old);
        if (newExists)
            QCOMPARE(readFile(target), QByteArray("keep me"));
        const QStringList left = newExists ? QStringList{"NEW", "OLD"} : QStringList{"OLD"};
        QCOMPARE(entries(dir.path()), left);
    }

    // The program in a folder whose name is not UTF-8 names that as the
    // reason, not a reader it could not start.
    void folderNameNotUtf8()
    {
        QTemporaryDir dir;
        const QString app = dir.filePath(QStringLiteral("app"));
        QDir().mkdir(app);
        for (const QString &name : {QStringLiteral("bukurea"), QStringLiteral("bukurea-jet")}) {
            QVERIFY(QFile::copy(program(name), app + u'/' + name));
            QFile::setPermissions(app + u'/' + name, QFile::ReadOwner | QFile::ExeOwner);
        }
        const QByteArray real = QFile::encodeName(dir.path()) + "/\xff\xfe";
        QVERIFY(::rename(QFile::encodeName(app).constData(), real.constData()) == 0);
        QVERIFY(::symlink(real.constData(), QFile::encodeName(app).constData()) == 0);
        QProcess p;
        p.start(app + QStringLiteral("/bukurea"),
                {QStringLiteral("--convert-access"), fixture(QStringLiteral("jet4_tabel.mdb")),
                 dir.filePath(QStringLiteral("NEW"))});
        QVERIFY(p.waitForFinished(60000));
        ::unlink(QFile::encodeName(app).constData());
        ::rename(real.constData(), QFile::encodeName(app).constData());
        QCOMPARE(p.exitCode(), 1);
        const QStringList lines = QString::fromUtf8(p.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].contains(QStringLiteral("名前に文字として読めないバイトが含まれています")),
                 qPrintable(lines[0]));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("NEW"))));
    }

    void usage()
    {
        const Run r = bukurea({QStringLiteral("--convert-access"), QStringLiteral("only-one")});
        QCOMPARE(r.status, 2);
        QCOMPARE(r.errorLines, QStringList{"usage: bukurea --convert-access OLD.mdb NEW.mdb"});
    }
};

QTEST_GUILESS_MAIN(TestConvertCommand)
#include "test_convertcommand.moc"
