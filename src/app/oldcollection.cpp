#include "app/oldcollection.h"

#include "screens/common/backupstep.h"
#include "screens/common/messages.h"
#include "screens/common/progresswindow.h"
#include "store/accessconversion.h"

#include <QFileInfo>

namespace app {

bool convertOldCollection(const QString &path)
{
    const QString title = QStringLiteral("ブクレア");
    const QString kept = QFileInfo(store::keptOriginalPath(path)).fileName();
    const QString question = QStringLiteral("データベース ファイル「%1」は古い Access 形式です。\r\n"
                                            "現在の形式に変換してから開きます。\r\n"
                                            "元のファイルは変更せずに、\r\n"
                                            "同じフォルダーに「%2」という名前で残します。\r\n\r\n"
                                            "変換しますか？")
                                 .arg(QFileInfo(path).fileName(), kept);
    if (screens::showMessage(
            {nullptr, QMessageBox::Question, title, question, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes})
        != QMessageBox::Yes)
        return false;
    // The conversion is a change like any other: the day's backup comes first.
    if (!screens::backupBeforeChange(nullptr, path))
        return false;

    screens::ProgressWindow progress(nullptr, "conversionProgress", title, path, 0);
    progress.setText(QStringLiteral("変換しています…"));
    progress.allowCancel();
    progress.show();
    progress.setDone(0);
    store::AccessConversionOptions options;
    // キャンセル stops the reader; nothing has been replaced by then.
    options.cancelled = [&] { return progress.cancelled(); };
    // Called every few rows and while the reader works: the window repaints
    // and stays responsive however large the collection.
    options.progress = [&](qint64 done, qint64 total) {
        progress.setTotal(total);
        progress.setDone(done);
    };
    try {
        store::convertAccessFileInPlace(path, options);
    } catch (const store::ConversionCancelled &) {
        progress.close();
        return false;
    } catch (const store::Error &e) {
        progress.close();
        screens::reportError(nullptr, e);
        return false;
    }
    progress.close();
    return true;
}

} // namespace app
