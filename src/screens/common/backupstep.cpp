#include "screens/common/backupstep.h"

#include "screens/common/messages.h"
#include "store/backup.h"
#include "store/error.h"

#include <QGuiApplication>
#include <QScopeGuard>

namespace screens {

bool backupBeforeChange(QWidget *parent, const QString &databasePath)
{
    QString text;
    {
        // A large collection takes a moment to copy.
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        const auto restore = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
        try {
            store::Backups(databasePath).makeIfDue();
            return true;
        } catch (const store::Error &e) {
            text = e.message();
        }
    }
    text += QStringLiteral("\n\nバックアップなしで続けますか？");
    text.replace(u'\n', QStringLiteral("\r\n"));
    return showMessage({parent, QMessageBox::Warning, QStringLiteral("ブクレア"), text,
                        QMessageBox::Yes | QMessageBox::No, QMessageBox::No})
           == QMessageBox::Yes;
}

} // namespace screens
