#pragma once

#include <QMessageBox>
#include <functional>

namespace store {
class Error;
}

// All message boxes of the application go through here, so that tests can
// answer them instead of a user.
namespace screens {

struct Message {
    QWidget *parent = nullptr;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text; // line breaks as CR LF, exactly as the program writes them
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Shows a modal message box and returns the button chosen.
QMessageBox::StandardButton showMessage(const Message &m);

// Replaces the message boxes (tests); an empty function restores them.
using MessageHandler = std::function<QMessageBox::StandardButton(const Message &)>;
void setMessageHandler(MessageHandler handler);

// Tells the user that an operation of the book store failed.
void reportError(QWidget *parent, const store::Error &error);

// Asks before a change: `what` and "よろしいですか？" on the next line, under
// `title`, with the question icon and Yes/No. True when the answer is Yes.
bool confirm(QWidget *parent, const QString &title, const QString &what);

// Asks before a new book is registered whose title and author are already
// in the collection: 「同じ書名・著者名の本が登録されています（蔵書番号 12、34…）。
// 登録しますか？」 titled "新規登録", with the question icon and Yes/No, No
// the default (Enter does not register the book twice). `numbers` are the
// collection numbers to name, `count` how many books there are in all.
// True when the answer is Yes.
bool confirmSameBook(QWidget *parent, const QStringList &numbers, int count);

// The notice of a search that found nothing: "データが見つかりませんでした。"
// titled "検索失敗", with the exclamation icon and OK.
void notifyNotFound(QWidget *parent);

} // namespace screens
