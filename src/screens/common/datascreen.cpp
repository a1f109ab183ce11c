#include "screens/common/datascreen.h"

#include "screens/common/about.h"
#include "screens/common/csvtransfer.h"
#include "screens/common/messages.h"
#include "screens/common/shell.h"
#include "store/error.h"

#include <QMenuBar>

namespace screens {

DataScreen::DataScreen(const char *name, screens::Twips clientArea, const char *helpItemName) : Form(name, clientArea)
{
    mnufile = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    mnufile->setObjectName(QStringLiteral("mnufile"));
    mnucsvout = mnufile->addAction(QStringLiteral("CSV ファイルに書き出す(&E)..."), this, &DataScreen::mnucsvout_Click);
    mnucsvout->setObjectName(QStringLiteral("mnucsvout"));
    mnucsvin = mnufile->addAction(QStringLiteral("CSV ファイルから取り込む(&I)..."), this, &DataScreen::mnucsvin_Click);
    mnucsvin->setObjectName(QStringLiteral("mnucsvin"));
    mnufile->addSeparator();
    mnuend = mnufile->addAction(QStringLiteral("アプリケーションの終了(&X)"), this, &DataScreen::mnuend_Click);
    mnuend->setObjectName(QStringLiteral("mnuend"));
    mnuhlp = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
    mnuhlp->setObjectName(QStringLiteral("mnuhlp"));
    mnuhlo = mnuhlp->addAction(QStringLiteral("ヘルプを開く(&O)"), this, &DataScreen::mnuhlo_Click);
    mnuhlo->setObjectName(QLatin1String(helpItemName));
    mnuver = mnuhlp->addAction(QStringLiteral("バージョン情報(&V)"), this, &DataScreen::mnuver_Click);
    mnuver->setObjectName(QStringLiteral("mnuver"));
    fixSize();
}

QString DataScreen::captionWithCount(const QString &title, int count)
{
    return title + QStringLiteral("   全 ") + QString::number(count) + QStringLiteral(" 件 ");
}

void DataScreen::returnToMenu()
{
    dropPending();
    unload();
    emit menuRequested();
}

void DataScreen::queryUnload()
{
    // The window is closing already.
    dropPending();
    emit menuRequested();
}

void DataScreen::mnuend_Click()
{
    // No cancel call first: a pending row is simply dropped with the screen.
    unload();
    emit endRequested();
}

void DataScreen::mnucsvout_Click() { exportCsv(this, rowsToExport()); }

void DataScreen::mnucsvin_Click()
{
    if (importCsv(this))
        booksImported();
}

void DataScreen::mnuhlo_Click() { shell::openHelp(this); }

void DataScreen::mnuver_Click()
{
    screens::frmAbout about;
    about.exec();
}

void reportStoreError(QWidget *parent, const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const store::Error &e) {
        reportError(parent, e);
    } catch (const std::bad_alloc &) {
        reportError(parent, store::Error(QStringLiteral("メモリが足りません。")));
    } catch (const std::exception &e) {
        reportError(
            parent,
            store::Error(
                QStringLiteral("予期しないエラーが起きました。\n（%1）").arg(QString::fromLocal8Bit(e.what()))));
    }
}

} // namespace screens
