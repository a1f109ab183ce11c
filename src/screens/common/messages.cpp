#include "screens/common/messages.h"

#include "store/error.h"

namespace screens {

namespace {
MessageHandler g_handler;
}

void setMessageHandler(MessageHandler handler) { g_handler = std::move(handler); }

QMessageBox::StandardButton showMessage(const Message &m)
{
    if (g_handler)
        return g_handler(m);
    QString text = m.text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(m.icon, m.title, text, m.buttons, m.parent);
    if (m.defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(m.defaultButton);
    return QMessageBox::StandardButton(box.exec());
}

void reportError(QWidget *parent, const store::Error &error)
{
    showMessage(
        {parent, QMessageBox::Critical, QStringLiteral("ブクレア"), error.message(), QMessageBox::Ok, QMessageBox::Ok});
}

bool confirm(QWidget *parent, const QString &title, const QString &what)
{
    return showMessage({parent, QMessageBox::Question, title, what + QStringLiteral("\r\nよろしいですか？"),
                        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes})
           == QMessageBox::Yes;
}

bool confirmSameBook(QWidget *parent, const QStringList &numbers, int count)
{
    QStringList shown;
    for (const QString &n : numbers)
        shown << (n.isEmpty() ? QStringLiteral("なし") : n);
    const QString list = shown.join(u'、') + (count > numbers.size() ? QStringLiteral("…") : QString());
    return showMessage(
               {parent, QMessageBox::Question, QStringLiteral("新規登録"),
                QStringLiteral("同じ書名・著者名の本が登録されています（蔵書番号 %1）。登録しますか？").arg(list),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No})
           == QMessageBox::Yes;
}

void notifyNotFound(QWidget *parent)
{
    showMessage({parent, QMessageBox::Warning, QStringLiteral("検索失敗"),
                 QStringLiteral("データが見つかりませんでした。"), QMessageBox::Ok, QMessageBox::Ok});
}

} // namespace screens
