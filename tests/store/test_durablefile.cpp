#include "store/durablefile.h"
#include "support/appdir.h"
#include "support/unavailable.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

using namespace store::durable;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QStringList namesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The id of a process that has ended.
qint64 deadPid()
{
    QProcess p;
    p.start(QStringLiteral("true"), {});
    p.waitForStarted();
    const qint64 id = p.processId();
    p.waitForFinished();
    return id;
}

} // namespace

// The one module that writes files durably: a replacement is all or
// nothing, and only temporaries it can prove its own are ever cleaned up.
class TestDurableFile : public QObject {
    Q_OBJECT
private slots:
    // Replacing or not, over an existing file or none: the target ends up
    // with the new bytes or, refused, keeps the old ones; no temporary stays.
    void commit_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<bool>("replace");
        QTest::addColumn<int>("error");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("new file, replacing") << false << true << 0 << QByteArray("new");
        QTest::newRow("existing file, replacing") << true << true << 0 << QByteArray("new");
        QTest::newRow("new file, never replacing") << false << false << 0 << QByteArray("new");
        QTest::newRow("existing file, never replacing") << true << false << int(EEXIST) << QByteArray("old");
    }
    void commit()
    {
        QFETCH(bool, exists);
        QFETCH(bool, replace);
        QFETCH(int, error);
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("BR.mdb"));
        if (exists)
            writeFile(target, "old");
        {
            TempFile temp(target);
            QCOMPARE(temp.error(), 0);
            QVERIFY(isTemporaryName(QFileInfo(temp.path()).fileName()));
            QCOMPARE(temp.write("new", 3), 0);
            QCOMPARE(readAll(target), exists ? QByteArray("old") : QByteArray("<missing>"));
            QCOMPARE(temp.commit(replace ? Replace::Existing : Replace::Never), error);
        }
        QCOMPARE(readAll(target), content);
        QCOMPARE(namesIn(dir.path()), QStringList{QStringLiteral("BR.mdb")});
    }

    // Writing that fails (a full disk, a read-only folder) or a temporary
    // dropped before commit leaves the target exactly as it was.
    void failureLeavesTarget_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("dropped before commit") << "dropped";
        QTest::newRow("full disk") << "full";
        QTest::newRow("read-only folder") << "readonly";
    }
    void failureLeavesTarget()
    {
        QFETCH(QString, fault);
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("app"));
        std::optional<testsupport::FaultyFolder> faulty;
        if (fault == QLatin1String("dropped")) {
            QDir().mkpath(folder);
        } else {
            faulty.emplace(folder, fault == QLatin1String("full") ? testsupport::FaultyFolder::Full
                                                                  : testsupport::FaultyFolder::ReadOnly);
            if (!faulty->available())
                SKIP_UNAVAILABLE("this system cannot make such a folder for the test");
        }
        const QString target = folder + QStringLiteral("/ブクレア.xls");
        writeFile(target, "the user's workbook");
        if (faulty)
            faulty->seal();
        {
            TempFile temp(target);
            const QByteArray big(4 << 20, 'x');
            const int written = temp.error() ? temp.error() : temp.write(big.constData(), big.size());
            if (fault == QLatin1String("dropped"))
                QCOMPARE(written, 0);
            else
                QVERIFY2(written == ENOSPC || written == EACCES || written == EROFS,
                         qPrintable(QString::number(written)));
        }
        QCOMPARE(readAll(target), QByteArray("the user's workbook"));
        QCOMPARE(namesIn(folder), QStringList{QStringLiteral("ブクレア.xls")});
    }

    // Only our own temporaries, whose process is gone or which are very
    // old, are removed; a file of a running process and every look-alike
    // that a user or another program may own stay.
    void staleTemporaries_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind"); // file, old, link, folder
        QTest::addColumn<bool>("removed");
        const QString dead = QString::number(deadPid());
        const QString parent = QString::number(::getppid());
        const QString self = QString::number(::getpid());
        QTest::newRow("ours, process gone") << ".BR.mdb.bukurea-" + dead + "-aB3dE9.tmp"
                                            << "file" << true;
        QTest::newRow("ours, export, process gone") << ".ブクレア.xls.bukurea-" + dead + "-Zz00aa.tmp"
                                                    << "file" << true;
        QTest::newRow("ours, process running") << ".BR.mdb.bukurea-" + parent + "-aB3dE9.tmp"
                                               << "file" << false;
        QTest::newRow("ours, this process") << ".BR.mdb.bukurea-" + self + "-aB3dE9.tmp"
                                            << "file" << false;
        QTest::newRow("ours, running, two days old") << ".BR.mdb.bukurea-" + parent + "-aB3dE9.tmp"
                                                     << "old" << true;
        QTest::newRow("a link of that name") << ".BR.mdb.bukurea-" + dead + "-aB3dE9.tmp"
                                             << "link" << false;
        QTest::newRow("a folder of that name") << ".BR.mdb.bukurea-" + dead + "-aB3dE9.tmp"
                                               << "folder" << false;
        QTest::newRow("not hidden") << "BR.mdb.bukurea-" + dead + "-aB3dE9.tmp"
                                    << "file" << false;
        QTest::newRow("five letters") << ".BR.mdb.bukurea-" + dead + "-aB3dE.tmp"
                                      << "file" << false;
        QTest::newRow("another ending") << ".BR.mdb.bukurea-" + dead + "-aB3dE9.tmp.bak"
                                        << "file" << false;
        QTest::newRow("not a number") << ".BR.mdb.bukurea-x" + dead + "-aB3dE9.tmp"
                                      << "file" << false;
        QTest::newRow("user's BR.mdb.access-??????") << "BR.mdb.access-aB3dE9"
                                                     << "old" << false;
        QTest::newRow("user's BR.mdb.converting-??????") << "BR.mdb.converting-aB3dE9"
                                                         << "old" << false;
        QTest::newRow("mkstemp-like export name") << ".ブクレア.xls.aB3dE9"
                                                  << "old" << false;
        QTest::newRow("old backup temporary name") << ".BR-20240301-090000.mdb." + dead + ".tmp"
                                                   << "old" << false;
    }
    void staleTemporaries()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(bool, removed);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        if (kind == QLatin1String("link")) {
            writeFile(dir.filePath(QStringLiteral("target")), "x");
            QVERIFY(QFile::link(dir.filePath(QStringLiteral("target")), path));
        } else if (kind == QLatin1String("folder")) {
            QVERIFY(QDir().mkdir(path));
        } else {
            writeFile(path, "x");
        }
        if (kind == QLatin1String("old")) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(QDateTime::currentDateTime().addDays(-2), QFileDevice::FileModificationTime));
        }
        QCOMPARE(removeStaleTemporaries(dir.path()), removed ? 1 : 0);
        QCOMPARE(QFileInfo::exists(path) || isSymLink(path), !removed);
        if (kind == QLatin1String("link"))
            QCOMPARE(readAll(dir.filePath(QStringLiteral("target"))), QByteArray("x"));
    }

    // Copying from a descriptor that belongs to someone else: by the kernel
    // or through the buffer, into an empty file or after bytes written
    // before, the copy holds exactly the bytes asked for; the descriptor is
    // left open and where it was. A source shorter than said fails at the
    // source.
    void copyFromDescriptor_data()
    {
        QTest::addColumn<bool>("kernel");
        QTest::addColumn<QByteArray>("before"); // written to the copy first
        QTest::addColumn<int>("size");          // of the source
        QTest::addColumn<int>("asked");         // bytes asked for
        QTest::addColumn<int>("error");
        const int big = 3 * 1024 * 1024 + 17; // more than one buffer's worth
        for (const bool kernel : {true, false}) {
            const QByteArray how = kernel ? "kernel, " : "buffer, ";
            QTest::newRow(how + "whole file") << kernel << QByteArray() << big << big << 0;
            QTest::newRow(how + "after earlier bytes") << kernel << QByteArray("head") << big << big << 0;
            QTest::newRow(how + "first part") << kernel << QByteArray() << big << 1000 << 0;
            QTest::newRow(how + "nothing") << kernel << QByteArray() << 0 << 0 << 0;
            QTest::newRow(how + "source too short") << kernel << QByteArray() << 1000 << 5000 << int(EIO);
        }
    }
    void copyFromDescriptor()
    {
        QFETCH(bool, kernel);
        QFETCH(QByteArray, before);
        QFETCH(int, size);
        QFETCH(int, asked);
        QFETCH(int, error);
        QTemporaryDir dir;
        QByteArray source(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            source[i] = char(i * 7 + i / 4096);
        writeFile(dir.filePath(QStringLiteral("source")), source);
        const int fd = ::open(QFile::encodeName(dir.filePath(QStringLiteral("source"))).constData(), O_RDONLY);
        QVERIFY(fd >= 0);
        ::lseek(fd, size / 2, SEEK_SET);
        setKernelCopy(kernel);
        const auto restoreCopy = qScopeGuard([] { setKernelCopy(true); });
        const QString target = dir.filePath(QStringLiteral("copy"));
        bool atSource = false;
        {
            TempFile temp(target);
            QCOMPARE(temp.write(before.constData(), before.size()), 0);
            QCOMPARE(temp.copyFrom(fd, asked, atSource), error);
            if (error == 0) {
                QCOMPARE(temp.size(), qint64(before.size() + asked));
                QByteArray head(int(std::min<qint64>(temp.size(), 64)), '\0');
                QCOMPARE(temp.readBack(head.data(), head.size(), 0), 0);
                QCOMPARE(head, (before + source.left(asked)).left(head.size()));
                QCOMPARE(temp.commit(), 0);
            }
        }
        QCOMPARE(atSource, error != 0);
        QCOMPARE(::lseek(fd, 0, SEEK_CUR), off_t(size / 2));
        QVERIFY(isDescriptorOf(fd, dir.filePath(QStringLiteral("source"))));
        QVERIFY(!isDescriptorOf(fd, target));
        ::close(fd);
        if (error == 0)
            QCOMPARE(readAll(target), before + source.left(asked));
        else
            QVERIFY(!QFile::exists(target));
    }

    // A replacement for a linked file goes where the link finally points.
    void followLinks_data()
    {
        QTest::addColumn<QStringList>("chain"); // each link names the next; the last is the file
        QTest::newRow("no link") << QStringList{QStringLiteral("BR.mdb")};
        QTest::newRow("absolute link") << QStringList{QStringLiteral("BR.mdb"), QStringLiteral("/real/BR.mdb")};
        QTest::newRow("relative link") << QStringList{QStringLiteral("BR.mdb"), QStringLiteral("data/real.mdb")};
        QTest::newRow("a chain") << QStringList{QStringLiteral("BR.mdb"), QStringLiteral("a.mdb"),
                                                QStringLiteral("real/b.mdb")};
    }
    void followLinks()
    {
        QFETCH(QStringList, chain);
        QTemporaryDir dir;
        QDir(dir.path()).mkpath(QStringLiteral("real"));
        QDir(dir.path()).mkpath(QStringLiteral("data"));
        const auto at = [&](const QString &p) {
            return dir.path() + u'/' + QString(p).remove(QRegularExpression("^/"));
        };
        writeFile(at(chain.last()), "x");
        for (qsizetype i = 0; i + 1 < chain.size(); ++i) {
            // Relative links are written relative to the link's own folder.
            const QString to = chain[i + 1].startsWith(u'/')
                                   ? at(chain[i + 1])
                                   : QDir(QFileInfo(at(chain[i])).absolutePath()).relativeFilePath(at(chain[i + 1]));
            QVERIFY(QFile::link(to, at(chain[i])));
        }
        QCOMPARE(store::durable::followLinks(at(chain.first())), QFileInfo(at(chain.last())).absoluteFilePath());
    }
};

QTEST_GUILESS_MAIN(TestDurableFile)
#include "test_durablefile.moc"
