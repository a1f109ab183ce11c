#pragma once

#include <QMessageBox>
#include <functional>

namespace store {
class Error;
}

// All message boxes of the application go through here, so that tests can
// answer them instead of a user.
namespace common {

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

// The notice of a search that found nothing: "データが見つかりませんでした。"
// titled "検索失敗", with the exclamation icon and OK.
void notifyNotFound(QWidget *parent);

} // namespace common
