#include "store/accessconversion.h"

#include "store/accessstream.h"
#include "store/booktable.h"
#include "store/durablefile.h"
#include "store/fileformat.h"
#include "store/module1.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>

namespace store {

ConversionError::ConversionError(const QString &file, const QString &reason)
    : Error(QStringLiteral("古い形式のデータベース ファイルを変換できませんでした。\n%1\n（%2）").arg(file, reason)),
      m_file(file),
      m_reason(reason)
{}

ConversionCancelled::ConversionCancelled(const QString &file)
    : ConversionError(file, QStringLiteral("変換を取り消しました"))
{}

qint64 defaultTimeLimitMs(qint64 bytes) { return 120000 + std::max<qint64>(bytes, 0) / (1 << 20) * 10000; }

namespace {

using access::Failure;
using access::Kind;

const QString &readerName()
{
    static const QString name = QStringLiteral("bukurea-jet");
    return name;
}

QString readerFailureReason(Failure f)
{
    switch (f) {
    case Failure::NotAccess: return QStringLiteral("Access のデータベース ファイルではありません");
    case Failure::Unreadable: return QStringLiteral("ファイルを読めません");
    case Failure::Damaged: return QStringLiteral("ファイルが壊れています");
    case Failure::NoTable: return missingTableReason();
    case Failure::TooLarge: return QStringLiteral("大きすぎる値があります");
    case Failure::Usage:
    case Failure::Internal: break;
    }
    return QStringLiteral("読み取りプログラム %1 が失敗しました").arg(readerName());
}

QString writeFailureReason(sqlite3 *db)
{
    if (!db)
        return systemReason(ENOMEM);
    return engineReason(sqlite3_extended_errcode(db), sqlite3_system_errno(db), QString::fromUtf8(sqlite3_errmsg(db)));
}

QString quoteName(const QString &name) { return u'"' + QString(name).replace(u'"', QStringLiteral("\"\"")) + u'"'; }

// Writes the streamed table into the new database as it arrives.
class TableWriter : public AccessStreamParser::Handler {
public:
    TableWriter(sqlite3 *db, const QString &source, const QString &target,
                const std::function<void(qint64, qint64)> &progress)
        : m_db(db), m_source(source), m_target(target), m_progress(progress)
    {
        m_clock.start();
    }
    ~TableWriter() override { sqlite3_finalize(m_insert); }

    void columns(const std::vector<AccessColumn> &columns, quint64 rowCountHint) override
    {
        for (const QString &field : fieldNames()) {
            const bool present = std::any_of(columns.begin(), columns.end(), [&](const AccessColumn &c) {
                return c.name.compare(field, Qt::CaseInsensitive) == 0;
            });
            if (!present)
                throw ConversionError(m_source, missingFieldReason(field));
        }
        QStringList defs, marks;
        for (const AccessColumn &c : columns) {
            const Affinity a = affinityOf(c.jetType);
            m_affinity.push_back(a);
            static const char *const typeNames[] = {"INTEGER", "REAL", "TEXT", "BLOB"};
            defs << quoteName(c.name) + u' ' + QLatin1String(typeNames[int(a)]);
            marks << QStringLiteral("?");
        }
        exec(QStringLiteral("CREATE TABLE %1 (%2);").arg(tableName(), defs.join(QStringLiteral(", "))));
        exec(QStringLiteral("BEGIN"));
        const QString insert = QStringLiteral("INSERT INTO %1 VALUES (%2)").arg(tableName(), marks.join(u','));
        if (sqlite3_prepare16_v2(m_db, insert.utf16(), -1, &m_insert, nullptr) != SQLITE_OK)
            failWrite();
        m_total = qint64(std::min<quint64>(rowCountHint, quint64(INT32_MAX)));
        report();
    }

    void row(const std::vector<AccessValue> &values) override
    {
        for (size_t i = 0; i < values.size(); ++i)
            bind(int(i) + 1, values[i], m_affinity[i]);
        if (sqlite3_step(m_insert) != SQLITE_DONE)
            failWrite();
        sqlite3_reset(m_insert);
        ++m_done;
        if ((m_done & 0xFF) == 0 && m_clock.elapsed() >= 50)
            report();
    }

    // The reader is working but has sent nothing new.
    void idle()
    {
        if (m_clock.elapsed() >= 100)
            report();
    }

    void finish()
    {
        if (!m_insert)
            throw ConversionError(m_source, readerFailureReason(Failure::Internal));
        sqlite3_finalize(m_insert);
        m_insert = nullptr;
        exec(QStringLiteral("COMMIT"));
        m_total = std::max(m_total, m_done);
        report();
    }

private:
    enum class Affinity { Integer, Real, Text, Blob };

    static Affinity affinityOf(unsigned char jetType)
    {
        switch (jetType) {
        case access::JetBool:
        case access::JetByte:
        case access::JetInteger:
        case access::JetLong: return Affinity::Integer;
        case access::JetSingle:
        case access::JetDouble: return Affinity::Real;
        case access::JetCurrency:
        case access::JetDecimal:
        case access::JetText:
        case access::JetMemo:
        case access::JetDateTime: return Affinity::Text;
        default: return Affinity::Blob;
        }
    }

    void bind(int i, const AccessValue &v, Affinity a)
    {
        // Texts are bound with a pointer that is never null: a null pointer
        // would store NULL where the old file held "".
        static const char empty[] = "";
        const char *bytes = v.bytes.isEmpty() ? empty : v.bytes.data();
        int rc = SQLITE_OK;
        switch (v.kind) {
        case Kind::Null: rc = sqlite3_bind_null(m_insert, i); break;
        case Kind::Integer: rc = sqlite3_bind_int64(m_insert, i, v.integer); break;
        case Kind::Real:
            // SQLite keeps no NaN, and a text column would round a double
            // to 15 digits: both get the shortest text that reads back as
            // the same double.
            if (std::isnan(v.real) || a == Affinity::Text) {
                char buf[32];
                const auto r = std::to_chars(buf, buf + sizeof buf, v.real);
                rc = sqlite3_bind_text(m_insert, i, buf, int(r.ptr - buf), SQLITE_TRANSIENT);
            } else {
                rc = sqlite3_bind_double(m_insert, i, v.real);
            }
            break;
        case Kind::Decimal:
        case Kind::Text:
        case Kind::Date: rc = sqlite3_bind_text(m_insert, i, bytes, int(v.bytes.size()), SQLITE_STATIC); break;
        case Kind::Blob: rc = sqlite3_bind_blob(m_insert, i, bytes, int(v.bytes.size()), SQLITE_STATIC); break;
        }
        if (rc != SQLITE_OK)
            failWrite();
    }

    void report()
    {
        m_clock.restart();
        if (m_progress)
            m_progress(m_done, std::max(m_total, m_done));
    }

    void exec(const QString &sql)
    {
        if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
            failWrite();
    }

    [[noreturn]] void failWrite() { throw ConversionError(m_target, writeFailureReason(m_db)); }

    sqlite3 *m_db;
    QString m_source, m_target;
    const std::function<void(qint64, qint64)> &m_progress;
    sqlite3_stmt *m_insert = nullptr;
    std::vector<Affinity> m_affinity;
    qint64 m_total = 0, m_done = 0;
    QElapsedTimer m_clock;
};

// Passes on what the reader writes on standard error, to the log and never
// to the user; a flood is cut off.
class ReaderLog {
public:
    explicit ReaderLog(const std::function<void(const QByteArray &)> &sink) : m_sink(sink) {}
    void add(const QByteArray &bytes)
    {
        if (bytes.isEmpty() || m_written >= Limit)
            return;
        QByteArray part = bytes.left(Limit - m_written);
        m_written += part.size();
        if (m_written >= Limit)
            part += "\n[further messages of the reader dropped]\n";
        if (m_sink)
            m_sink(part);
        else
            std::fwrite(part.constData(), 1, size_t(part.size()), stderr);
    }

private:
    static constexpr qsizetype Limit = 64 * 1024;
    const std::function<void(const QByteArray &)> &m_sink;
    qsizetype m_written = 0;
};

struct Reader {
    QString program;
    QStringList arguments;
};
Reader &defaultReader()
{
    static Reader r;
    return r;
}

Reader readerFor(const AccessConversionOptions &o)
{
    if (!o.readerProgram.isEmpty())
        return {o.readerProgram, o.readerArguments};
    if (!defaultReader().program.isEmpty())
        return defaultReader();
    // The reader lies beside the program, or under an installed program's
    // prefix. Not found there, a folder whose name cannot be read is told as
    // such, rather than as a reader that could not be started.
    const QString program = store::readerProgram();
    if (!QFileInfo::exists(program)) {
        try {
            store::applicationDirectory();
        } catch (const Error &e) {
            throw ConversionError(e.message().section(u'\n', 1, 1), e.reason());
        }
    }
    return {program, o.readerArguments};
}

// Runs the reader on `source` and feeds its stream to the parser until the
// stream is complete. Throws ConversionError.
void runReader(const QString &source, AccessStreamParser &parser, TableWriter &writer, const AccessConversionOptions &o)
{
    QProcess reader;
    const Reader command = readerFor(o);
    reader.setProgram(command.program);
    reader.setArguments(command.arguments + QStringList{source});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("MDBPATH"));
    env.remove(QStringLiteral("MDBOPTS"));
    reader.setProcessEnvironment(env);
    reader.setProcessChannelMode(QProcess::SeparateChannels);
    reader.start(QIODevice::ReadOnly);
    // The reader never outlives the conversion, however it ends.
    const std::unique_ptr<QProcess, void (*)(QProcess *)> stopper(&reader, [](QProcess *p) {
        if (p->state() != QProcess::NotRunning) {
            p->kill();
            p->waitForFinished(5000);
        }
    });
    if (!reader.waitForStarted(10000))
        throw ConversionError(source, QStringLiteral("読み取りプログラム %1 を起動できません").arg(readerName()));

    ReaderLog log(o.log);
    QElapsedTimer sinceData, sinceStart;
    sinceData.start();
    sinceStart.start();
    const qint64 limit = o.timeLimitMs > 0 ? o.timeLimitMs : defaultTimeLimitMs(QFileInfo(source).size());
    try {
        for (;;) {
            const bool ready = reader.waitForReadyRead(100);
            const QByteArray chunk = reader.readAllStandardOutput();
            log.add(reader.readAllStandardError());
            if (!chunk.isEmpty()) {
                sinceData.restart();
                parser.feed(chunk);
            } else if (!ready && reader.state() == QProcess::NotRunning) {
                break;
            } else if (sinceData.elapsed() > o.stallTimeoutMs) {
                throw ConversionError(source, QStringLiteral("読み取りが %1 秒間進まなかったため中止しました")
                                                  .arg((o.stallTimeoutMs + 999) / 1000));
            }
            if (sinceStart.elapsed() > limit)
                throw ConversionError(
                    source,
                    QStringLiteral("読み取りが %1 秒以内に終わらなかったため中止しました").arg((limit + 999) / 1000));
            writer.idle();
            if (o.cancelled && o.cancelled())
                throw ConversionCancelled(source);
        }
        parser.feed(reader.readAllStandardOutput());
        log.add(reader.readAllStandardError());
        if (reader.exitStatus() == QProcess::CrashExit)
            throw ConversionError(source, QStringLiteral("読み取りプログラム %1 が異常終了しました").arg(readerName()));
        parser.finish();
        if (reader.exitCode() != 0)
            throw ConversionError(source, readerFailureReason(Failure::Internal));
    } catch (const AccessStreamError &e) {
        log.add(QStringLiteral("bukurea: reading %1: %2\n").arg(source, e.detail).toUtf8());
        if (e.reason == AccessStreamError::Reason::ReaderFailed)
            throw ConversionError(source, readerFailureReason(e.failure));
        throw ConversionError(source, QStringLiteral("読み取りプログラム %1 の出力が不正です").arg(readerName()));
    }
}

// What a conversion needs of the source before anything is written.
void requireAccessFile(const QString &source)
{
    switch (detectFileFormat(source)) {
    case FileFormat::Jet3:
    case FileFormat::Jet4: return;
    case FileFormat::Unreadable: {
        const int e = durable::openError(source);
        throw ConversionError(source, systemReason(e ? e : EISDIR));
    }
    default: throw ConversionError(source, readerFailureReason(Failure::NotAccess));
    }
}

// A new, empty temporary file beside `path`, removed again unless
// committed. Its descriptor is closed at once, so that SQLite alone holds
// the file while it writes.
std::unique_ptr<durable::TempFile> temporaryBeside(const QString &path)
{
    auto file = std::make_unique<durable::TempFile>(path);
    if (const int e = file->error())
        throw ConversionError(QFileInfo(path).absolutePath(), systemReason(e));
    file->closeHandle();
    return file;
}

// An SQLite handle that is closed on every way out.
struct Database {
    sqlite3 *db = nullptr;
    ~Database()
    {
        if (db)
            sqlite3_close_v2(db);
    }
    bool close()
    {
        if (sqlite3_close(db) != SQLITE_OK)
            return false;
        db = nullptr;
        return true;
    }
};

// Converts `source` into the empty file `target` and syncs it.
void writeDatabase(const QString &source, const QString &target, const AccessConversionOptions &o)
{
    Database d;
    if (sqlite3_open_v2(target.toUtf8().constData(), &d.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        throw ConversionError(target, writeFailureReason(d.db));
    sqlite3_extended_result_codes(d.db, 1);
    // A file nobody else sees yet: no journal, no syncs while it is written;
    // it is synced once, whole, at the end.
    sqlite3_exec(d.db, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
    {
        TableWriter writer(d.db, source, target, o.progress);
        AccessStreamParser parser(writer);
        runReader(source, parser, writer, o);
        writer.finish();
    }
    if (!d.close())
        throw ConversionError(target, writeFailureReason(d.db));
}

// Copies the original to the first free name of keptOriginalPath's series,
// synced, never over an existing file.
QString keepOriginal(const QString &path)
{
    durable::TempFile copy(keptOriginalPath(path));
    if (const int e = copy.error())
        throw ConversionError(QFileInfo(path).absolutePath(), systemReason(e));
    bool atSource = false;
    if (const int e = copy.copyFrom(path, atSource))
        throw ConversionError(atSource ? path : copy.target(), systemReason(e));
    copy.copyAttributesOf(path, true);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const QString name = keptOriginalPath(path);
        // The rename never replaces a file: when another one took the name
        // meanwhile, the next name is tried.
        const int e = copy.commitAs(name, durable::Replace::Never);
        if (e == 0)
            return name;
        if (e != EEXIST)
            throw ConversionError(name, systemReason(e));
    }
    throw ConversionError(path, systemReason(EEXIST));
}

} // namespace

void setDefaultReader(const QString &program, const QStringList &arguments) { defaultReader() = {program, arguments}; }

QString keptOriginalPath(const QString &path)
{
    QString name = path + QStringLiteral(".access");
    for (int n = 1; QFileInfo::exists(name) || QFileInfo(name).isSymLink(); ++n)
        name = path + QStringLiteral(".access.%1").arg(n);
    return name;
}

void convertAccessFile(const QString &source, const QString &target, const AccessConversionOptions &options)
{
    requireAccessFile(source);
    if (QFileInfo::exists(target) || durable::isSymLink(target))
        throw ConversionError(target, systemReason(EEXIST));
    const auto temp = temporaryBeside(target);
    writeDatabase(source, temp->path(), options);
    if (const int e = temp->commit(durable::Replace::Never))
        throw ConversionError(target, systemReason(e));
}

QString convertAccessFileInPlace(const QString &path, const AccessConversionOptions &options)
{
    requireAccessFile(path);
    // A collection reached through a link is replaced where it really is;
    // the link and the kept original stay beside `path`.
    const QString real = durable::followLinks(path);
    // What conversions killed before they were done left behind: only our
    // own temporaries of processes that are gone.
    durable::removeStaleTemporaries(QFileInfo(path).absolutePath());
    durable::removeStaleTemporaries(QFileInfo(real).absolutePath());
    const auto step = [&](AccessConversionOptions::Step s) {
        if (options.afterStep)
            options.afterStep(s);
    };

    const auto temp = temporaryBeside(real);
    writeDatabase(path, temp->path(), options);
    step(AccessConversionOptions::Step::NewFileWritten);

    const QString kept = keepOriginal(path);
    step(AccessConversionOptions::Step::OriginalKept);

    if (const int e = temp->commit(durable::Replace::Existing)) {
        durable::remove(kept);
        throw ConversionError(path, systemReason(e));
    }
    step(AccessConversionOptions::Step::Replaced);
    return kept;
}

} // namespace store
