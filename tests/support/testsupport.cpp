#include "support/testsupport.h"

#include "app/desktop.h"
#include "screens/common/datascreen.h"
#include "screens/common/shell.h"
#include "store/module1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMetaEnum>
#include <QPointer>
#include <QPushButton>
#include <QTest>

// Every test runs with the fonts and Qt's Japanese texts that the
// application sets up at start-up.
static void setUpDesktop() { app::setUpDesktop(); }
Q_COREAPP_STARTUP_FUNCTION(setUpDesktop)

namespace testsupport {

MessageScript::MessageScript()
{
    screens::setMessageHandler([this](const screens::Message &m) {
        shown << m;
        if (!m_answers.empty()) {
            const auto b = m_answers.front();
            m_answers.pop_front();
            return b;
        }
        return m.defaultButton != QMessageBox::NoButton ? m.defaultButton : QMessageBox::Ok;
    });
}

MessageScript::~MessageScript() { screens::setMessageHandler({}); }

ShellFake::ShellFake()
{
    screens::shell::setOpener([this](const QUrl &u) {
        opened << u;
        return true;
    });
}

ShellFake::~ShellFake() { screens::shell::setOpener({}); }

QWidget *visibleWindow(const QString &objectName)
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == objectName && w->isVisible())
            return w;
    }
    return nullptr;
}

int liveWindows(const QString &objectName)
{
    int n = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        n += w->objectName() == objectName ? 1 : 0;
    return n;
}

void typeText(QWidget *w, const QString &text)
{
    w->setFocus(Qt::OtherFocusReason);
    for (qsizetype i = 0; i < text.size();) {
        const bool ascii = text[i].unicode() < 0x80;
        qsizetype j = i;
        while (j < text.size() && (text[j].unicode() < 0x80) == ascii)
            ++j;
        const QString run = text.mid(i, j - i);
        if (ascii) {
            QTest::keyClicks(w, run);
        } else if (w->testAttribute(Qt::WA_InputMethodEnabled)) {
            QInputMethodEvent commit;
            commit.setCommitString(run);
            QApplication::sendEvent(w, &commit);
        } else {
            for (QChar c : run)
                QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
        i = j;
    }
}

QString describe(const screens::Message &m)
{
    return QString::fromLatin1(QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(m.icon)) + u' ' + m.title + u'|'
           + m.text + QStringLiteral("| ")
           + QString::fromLatin1(QMetaEnum::fromType<QMessageBox::StandardButtons>().valueToKeys(int(m.buttons)))
           + QStringLiteral(" default ")
           + QString::fromLatin1(QMetaEnum::fromType<QMessageBox::StandardButtons>().valueToKeys(int(m.defaultButton)));
}

screens::Message notFound()
{
    return {nullptr,
            QMessageBox::Warning,
            QStringLiteral("検索失敗"),
            QStringLiteral("データが見つかりませんでした。"),
            QMessageBox::Ok,
            QMessageBox::Ok};
}

QString menuChoiceFor(const char *className)
{
    static const QMap<QString, QString> choices = {{QStringLiteral("Main"), QStringLiteral("新規登録")},
                                                   {QStringLiteral("Main2"), QStringLiteral("修正・削除")},
                                                   {QStringLiteral("db"), QStringLiteral("データ一覧")},
                                                   {QStringLiteral("RegistrationScreen"), QStringLiteral("新規登録")},
                                                   {QStringLiteral("EditScreen"), QStringLiteral("修正・削除")},
                                                   {QStringLiteral("ListScreen"), QStringLiteral("データ一覧")}};
    return choices.value(QString::fromLatin1(className).section(QStringLiteral("::"), -1));
}

QWidget *openFromMenu(screens::StartMenu &menu, const QString &choice)
{
    menu.show();
    menu.Combo1->setEditText(choice);
    click(menu.Command1);
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && menuChoiceFor(qPrintable(w->objectName())) == choice)
            return QTest::qWaitForWindowActive(w) ? w : nullptr;
    }
    return nullptr;
}

void closeScreens()
{
    settle();
    QList<QPointer<QWidget>> screens;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<screens::DataScreen *>(w))
            screens << w;
    }
    qDeleteAll(screens);
}

QStringList tabWalk(int presses)
{
    QStringList names{QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString()};
    for (int i = 0; i < presses && QApplication::focusWidget(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        names << QApplication::focusWidget()->objectName();
    }
    return names;
}

void click(QAbstractButton *button) { QTest::mouseClick(button, Qt::LeftButton); }
void click(QObject *parent, const char *buttonName) { click(child<QAbstractButton>(parent, buttonName)); }

void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

} // namespace testsupport
