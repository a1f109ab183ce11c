#include "export/listexport.h"

#include "app/module1.h"
#include "export/workbook.h"
#include "screens/common/messages.h"
#include "screens/common/ui.h"
#include "store/recordset.h"

#include <QApplication>
#include <QDialog>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>

namespace xls {

namespace {

const QString &title()
{
    static const QString t = QStringLiteral("Excelデータ変換");
    return t;
}

// Stands in for the spreadsheet window the user once watched while the
// list was copied: a progress bar by rows and the target path.
class ProgressWindow : public QDialog {
public:
    ProgressWindow(QWidget *parent, const QString &path, int rows)
        : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    {
        setObjectName(QStringLiteral("exportProgress"));
        setWindowTitle(title());
        setWindowModality(Qt::ApplicationModal);
        setFixedSize(ui::toPixels({0, 0, 5400, 1200}).size());
        auto *where = ui::label(this, "path", path, {120, 120, 5160, 375});
        where->setTextFormat(Qt::PlainText);
        where->setToolTip(path);
        m_bar = new QProgressBar(this);
        m_bar->setObjectName(QStringLiteral("progress"));
        m_bar->setGeometry(ui::toPixels({120, 600, 5160, 375}));
        m_bar->setRange(0, std::max(rows, 1));
        m_bar->setValue(0);
    }
    void setDone(int rows)
    {
        m_bar->setValue(rows);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }

private:
    QProgressBar *m_bar;
};

} // namespace

QString exportPath() { return Module1::applicationDirectory() + QStringLiteral("/") + QStringLiteral("ブクレア.xls"); }

bool exportList(QWidget *parent, const store::RecordSet &rs)
{
    const QString path = exportPath();
    if (QFileInfo::exists(path)) {
        const auto answer = common::showMessage(
            {parent, QMessageBox::Question, title(),
             QStringLiteral("この場所に '%1' という名前のファイルが既にあります。\r\n置き換えますか?")
                 .arg(QFileInfo(path).fileName()),
             QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes});
        if (answer != QMessageBox::Yes)
            return false;
    }

    ProgressWindow progress(parent, path, rs.recordCount());
    progress.show();
    progress.setDone(0);
    Workbook book;
    const bool written = book.copyFromRecordset(rs, [&](int done, int) { progress.setDone(done); })
                         && book.saveAs(path);
    progress.close();
    if (!written)
        common::showMessage({parent, QMessageBox::Critical, title(), book.error(), QMessageBox::Ok, QMessageBox::Ok});
    return written;
}

} // namespace xls
