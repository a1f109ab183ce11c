#include "screens/common/csvtransfer.h"

#include "export/csvexport.h"
#include "export/csvimport.h"
#include "screens/common/backupstep.h"
#include "screens/common/csvpreview.h"
#include "screens/common/datascreen.h"
#include "screens/common/filedialogs.h"
#include "screens/common/messages.h"
#include "screens/common/progresswindow.h"
#include "store/connection.h"
#include "store/error.h"
#include "store/module1.h"
#include "store/recordset.h"

#include <QFileInfo>

#include <memory>

namespace screens {

namespace {

const QString &exportTitle()
{
    static const QString title = QStringLiteral("CSV ファイルに書き出す");
    return title;
}

const QString &importTitle()
{
    static const QString title = QStringLiteral("CSV ファイルから取り込む");
    return title;
}

// How many failing lines a message box lists before it only counts the rest.
constexpr int ListedProblems = 20;

void tell(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text)
{
    showMessage({parent, icon, title, text, QMessageBox::Ok, QMessageBox::Ok});
}

exporting::ExportOutcome writeFile(QWidget *parent, const store::RecordSet &rows, const QString &path,
                                   exporting::Encoding encoding)
{
    ProgressWindow progress(parent, "csvExportProgress", exportTitle(), path, rows.recordCount());
    progress.setText(QStringLiteral("書き出しています…"));
    progress.allowCancel();
    progress.show();
    progress.setDone(0);
    return exporting::exportCsv(rows, path, encoding, [&](qint64 done) {
        progress.setDone(done);
        return !progress.cancelled();
    });
}

} // namespace

void exportCsv(QWidget *parent, const store::RecordSet *shown)
{
    QString directory;
    try {
        directory = store::applicationDirectory();
    } catch (const store::Error &e) {
        reportError(parent, e);
        return;
    }
    const QStringList filters = {QStringLiteral("CSV UTF-8 BOM 付き (*.csv)"),
                                 QStringLiteral("CSV Shift_JIS (CP932) (*.csv)")};
    const std::optional<FileAnswer> answer =
        askForFile({parent, true, exportTitle(), directory, QStringLiteral("ブクレア.csv"), filters});
    if (!answer)
        return;
    const QString path = QFileInfo(answer->path).absoluteFilePath();
    exporting::Encoding encoding = answer->filter == 1 ? exporting::Encoding::Cp932 : exporting::Encoding::Utf8;

    store::BusyWait operation;
    try {
        std::unique_ptr<store::RecordSet> own;
        if (!shown) {
            own = std::make_unique<store::RecordSet>(
                store::Connection::open(store::databasePath()),
                store::RecordSource::sorted(store::Field::Number, store::Direction::Ascending));
            shown = own.get();
        }
        for (;;) {
            const exporting::ExportOutcome outcome = writeFile(parent, *shown, path, encoding);
            switch (outcome.status) {
            case exporting::ExportOutcome::Status::Written:
                tell(parent, QMessageBox::Information, exportTitle(),
                     QStringLiteral("%1 冊を書き出しました。\r\n%2").arg(outcome.books).arg(path));
                return;
            case exporting::ExportOutcome::Status::Cancelled: return;
            case exporting::ExportOutcome::Status::Failed:
                tell(parent, QMessageBox::Critical, exportTitle(), outcome.message);
                return;
            case exporting::ExportOutcome::Status::Unencodable:
                if (showMessage({parent, QMessageBox::Warning, exportTitle(),
                                 outcome.message
                                     + QStringLiteral("\r\n何も書き出していません。\r\n\r\n"
                                                      "UTF-8（BOM 付き）で書き出しますか？"),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No})
                    != QMessageBox::Yes)
                    return;
                encoding = exporting::Encoding::Utf8;
                break;
            }
        }
    } catch (...) {
        reportStoreError(parent, std::current_exception());
    }
}

bool importCsv(QWidget *parent)
{
    QString directory;
    try {
        directory = store::applicationDirectory();
    } catch (const store::Error &e) {
        reportError(parent, e);
        return false;
    }
    const std::optional<FileAnswer> answer =
        askForFile({parent,
                    false,
                    importTitle(),
                    directory,
                    QString(),
                    {QStringLiteral("CSV ファイル (*.csv *.txt)"), QStringLiteral("すべてのファイル (*)")}});
    if (!answer)
        return false;
    const QString path = QFileInfo(answer->path).absoluteFilePath();
    try {
        ImportPreview preview(parent, path, exporting::detectEncoding(path));
        if (preview.exec() != QDialog::Accepted)
            return false;
        const exporting::Encoding encoding = preview.encoding();
        const qint64 size = QFileInfo(path).size();

        // Every line is checked before anything is written, so that the
        // user learns of every failing line at once.
        exporting::Check check;
        {
            ProgressWindow progress(parent, "csvCheckProgress", importTitle(), path, size);
            progress.setText(QStringLiteral("ファイルを確かめています…"));
            progress.allowCancel();
            progress.show();
            progress.setDone(0);
            check = exporting::checkFile(path, encoding, [&](qint64 done) {
                progress.setDone(done);
                return !progress.cancelled();
            });
        }
        if (check.cancelled)
            return false;
        if (check.problemCount > 0) {
            QStringList lines;
            for (const exporting::Problem &p : check.problems.mid(0, ListedProblems))
                lines << exporting::describe(p);
            if (check.problemCount > lines.size())
                lines << QStringLiteral("ほかに %1 行の問題があります。").arg(check.problemCount - lines.size());
            tell(parent, QMessageBox::Critical, importTitle(),
                 QStringLiteral("次の問題があるため取り込めません。何も取り込んでいません。\r\n%1\r\n\r\n").arg(path)
                     + lines.join(QStringLiteral("\r\n")));
            return false;
        }

        store::computeDatabasePath();
        const QString database = store::databasePath();
        if (!backupBeforeChange(parent, database))
            return false;
        store::BusyWait operation;
        auto connection = store::Connection::open(database);
        qint64 added = 0;
        {
            ProgressWindow progress(parent, "csvImportProgress", importTitle(), path, size);
            progress.setText(QStringLiteral("取り込んでいます…"));
            progress.allowCancel();
            progress.show();
            progress.setDone(0);
            try {
                added = exporting::importFile(*connection, path, encoding, [&](qint64 done) {
                    progress.setDone(done);
                    return !progress.cancelled();
                });
            } catch (const exporting::Cancelled &) {
                return false;
            }
        }
        tell(parent, QMessageBox::Information, importTitle(), QStringLiteral("%1 冊を取り込みました。").arg(added));
        return true;
    } catch (...) {
        reportStoreError(parent, std::current_exception());
        return false;
    }
}

} // namespace screens
