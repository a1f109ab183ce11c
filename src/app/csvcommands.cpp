#include "app/csvcommands.h"

#include "export/csvexport.h"
#include "export/csvimport.h"
#include "store/backup.h"
#include "store/connection.h"
#include "store/error.h"
#include "store/module1.h"
#include "store/recordset.h"

#include <QFileInfo>
#include <QTextStream>

#include <optional>

namespace app {

namespace {

struct Options {
    QString file;
    std::optional<exporting::Encoding> encoding;
    bool force = false;
};

// One problem, one line: the lines of a message joined.
void problem(QTextStream &err, const QString &message)
{
    err << "bukurea: " << message.split(u'\n', Qt::SkipEmptyParts).join(u' ') << Qt::endl;
}

// The file and the options after it; nullopt (and the usage printed) when
// they are not understood.
std::optional<Options> parse(const QStringList &arguments, bool forceAllowed, const QString &usage, QTextStream &err)
{
    Options o;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QStringLiteral("--encoding") && i + 1 < arguments.size() && !o.encoding) {
            const QString name = arguments[++i].toLower();
            if (name == QStringLiteral("utf-8") || name == QStringLiteral("utf8"))
                o.encoding = exporting::Encoding::Utf8;
            else if (name == QStringLiteral("cp932") || name == QStringLiteral("shift_jis"))
                o.encoding = exporting::Encoding::Cp932;
            else
                return err << "usage: " << usage << Qt::endl, std::nullopt;
        } else if (a == QStringLiteral("--force") && forceAllowed && !o.force) {
            o.force = true;
        } else if (o.file.isEmpty() && !a.startsWith(QStringLiteral("--"))) {
            o.file = a;
        } else {
            return err << "usage: " << usage << Qt::endl, std::nullopt;
        }
    }
    if (o.file.isEmpty())
        return err << "usage: " << usage << Qt::endl, std::nullopt;
    return o;
}

} // namespace

int exportCsvCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    const auto o =
        parse(arguments, true, QStringLiteral("bukurea --export-csv FILE [--encoding utf-8|cp932] [--force]"), err);
    if (!o)
        return 2;
    const QString path = QFileInfo(o->file).absoluteFilePath();
    if (QFileInfo(path).isDir()) {
        problem(err, store::fileError(QStringLiteral("CSV ファイルを書き出せませんでした。"), path,
                                      store::systemReason(EISDIR))
                         .message());
        return 1;
    }
    if (QFileInfo::exists(path) && !o->force) {
        problem(err, QStringLiteral("%1 は既にあります。置き換えるには --force を付けてください。").arg(path));
        return 1;
    }
    try {
        store::computeDatabasePath();
        store::BusyWait operation;
        store::RecordSet rows(store::Connection::open(store::databasePath()),
                              store::RecordSource::sorted(store::Field::Number, store::Direction::Ascending));
        const exporting::ExportOutcome outcome =
            exporting::exportCsv(rows, path, o->encoding.value_or(exporting::Encoding::Utf8));
        if (outcome.status != exporting::ExportOutcome::Status::Written) {
            problem(err, outcome.message);
            if (outcome.status == exporting::ExportOutcome::Status::Unencodable)
                problem(err, QStringLiteral("--encoding utf-8 なら書き出せます。何も書き出していません。"));
            return 1;
        }
        out << QStringLiteral("%1 冊を書き出しました。").arg(outcome.books) << Qt::endl;
        return 0;
    } catch (const store::Error &e) {
        problem(err, e.message());
        return 1;
    }
}

int importCsvCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    const auto o = parse(arguments, false, QStringLiteral("bukurea --import-csv FILE [--encoding utf-8|cp932]"), err);
    if (!o)
        return 2;
    const QString path = QFileInfo(o->file).absoluteFilePath();
    try {
        const exporting::Encoding encoding = o->encoding ? *o->encoding : exporting::detectEncoding(path);
        // Every line is checked before anything is written, so that each
        // problem gets its line.
        const exporting::Check check = exporting::checkFile(path, encoding);
        if (check.problemCount > 0) {
            for (const exporting::Problem &p : check.problems)
                problem(err, path + QStringLiteral(": ") + exporting::describe(p));
            if (check.problemCount > check.problems.size())
                problem(
                    err,
                    QStringLiteral("ほかに %1 行の問題があります。").arg(check.problemCount - check.problems.size()));
            problem(err, QStringLiteral("何も取り込んでいません。"));
            return 1;
        }
        store::computeDatabasePath();
        store::BusyWait operation;
        auto connection = store::Connection::open(store::databasePath());
        store::Backups(store::databasePath()).makeIfDue();
        const qint64 added = exporting::importFile(*connection, path, encoding);
        out << QStringLiteral("%1 冊を取り込みました。").arg(added) << Qt::endl;
        return 0;
    } catch (const store::Error &e) {
        problem(err, e.message());
        return 1;
    }
}

} // namespace app
