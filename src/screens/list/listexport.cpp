#include "screens/list/listexport.h"

#include "export/workbook.h"
#include "screens/common/messages.h"
#include "screens/common/progresswindow.h"
#include "store/recordset.h"

#include <QDir>
#include <QFileInfo>

namespace screens {

bool exportList(QWidget *parent, const store::RecordSet &rs, const QString &path)
{
    const QString title = QStringLiteral("Excelデータ変換");
    if (QFileInfo::exists(path)) {
        const auto answer = screens::showMessage(
            {parent, QMessageBox::Question, title,
             QStringLiteral("この場所に「%1」という名前のファイルが既にあります。\r\n置き換えますか？")
                 .arg(QFileInfo(path).fileName()),
             QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes});
        if (answer != QMessageBox::Yes)
            return false;
    }

    screens::ProgressWindow progress(parent, "exportProgress", title, path, rs.recordCount());
    progress.setText(QStringLiteral("書き出しています…"));
    progress.show();
    progress.setDone(0);
    exporting::Workbook book;
    // The folder (the user's documents folder) may not exist yet; a failure
    // to make it is told by the save below.
    QDir().mkpath(QFileInfo(path).path());
    const bool written =
        book.copyFromRecordset(rs, [&](int done, int) { progress.setDone(done); }) && book.saveAs(path);
    progress.close();
    if (!written)
        screens::showMessage({parent, QMessageBox::Critical, title, book.error(), QMessageBox::Ok, QMessageBox::Ok});
    return written;
}

} // namespace screens
