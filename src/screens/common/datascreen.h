#pragma once

#include "screens/common/form.h"
#include "store/connection.h"

class QAction;
class QMenu;

namespace store {
class RecordSet;
}

namespace screens {

// A data screen: a window with the application's menu bar that is created
// and loaded afresh every time it is shown, and destroyed when left.
//
// Menu bar: "ファイル(&F)" with the CSV export and import, a separator and
// the exit command, "ヘルプ(&H)" with "ヘルプを開く(&O)" and "バージョン情報(&V)".
//
// A screen never opens another window itself: it asks for the start menu,
// the list screen or the end of the application through its signals, and
// the application decides how.
//
// Leaving: every way back to the start menu (the screen's own button, the
// close box) drops what is pending first, so nothing unconfirmed is ever
// written; the exit command drops it with the window.
class DataScreen : public Form {
    Q_OBJECT
public:
    // helpItemName: the object name of the help item ("mnuhlo" on most screens).
    DataScreen(const char *name, screens::Twips clientArea, const char *helpItemName = "mnuhlo");

    // Opens the screen's data; throws store::Error.
    virtual void load() = 0;

    QMenu *mnufile;
    QAction *mnucsvout; // "CSV ファイルに書き出す(&E)..."
    QAction *mnucsvin;  // "CSV ファイルから取り込む(&I)..."
    QAction *mnuend;
    QMenu *mnuhlp;
    QAction *mnuhlo; // named by helpItemName
    QAction *mnuver;

signals:
    // The screen was left for the start menu.
    void menuRequested();
    // The screen was left for the list screen.
    void listRequested();
    // The screen was closed by the exit command: the application ends.
    void endRequested();

protected:
    // The window caption with the number of books: title + "   全 " + count + " 件 ".
    static QString captionWithCount(const QString &title, int count);
    // Drops the screen's pending input without writing anything.
    virtual void dropPending() {}
    // Leaves the screen for the start menu.
    void returnToMenu();
    // The close box: back to the start menu, like returnToMenu().
    void queryUnload() override;
    // Runs a handler's body as one operation of the store (a file locked by
    // another program is waited for once in all); a failure of the book
    // store is reported to the user and ends the handler. Returns false when
    // it failed.
    template <typename F> bool guarded(F &&body);
    // The rows the CSV export writes: the list as shown, or null for every
    // book by 蔵書番号.
    virtual const store::RecordSet *rowsToExport() const { return nullptr; }
    // Books were imported: the screen opens again, showing the new count.
    virtual void booksImported()
    {
        guarded([this] { load(); });
    }

private:
    void mnucsvout_Click();
    void mnucsvin_Click();
    void mnuend_Click();
    void mnuhlo_Click();
    void mnuver_Click();
};

void reportStoreError(QWidget *parent, const std::exception_ptr &error);

template <typename F> bool DataScreen::guarded(F &&body)
{
    store::BusyWait operation;
    try {
        body();
        return true;
    } catch (...) {
        reportStoreError(this, std::current_exception());
        return false;
    }
}

} // namespace screens
