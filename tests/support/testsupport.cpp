#include "support/testsupport.h"

#include "app/fonts.h"
#include "app/module1.h"
#include "screens/common/datascreen.h"
#include "screens/common/shell.h"
#include "store/booktable.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMetaEnum>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <sqlite3.h>

// Every test runs with the fonts the application sets up at start-up.
static void setUpFonts() { app::installFontSubstitutions(); }
Q_COREAPP_STARTUP_FUNCTION(setUpFonts)

namespace testsupport {

Book book(std::initializer_list<const char *> fields)
{
    Book b;
    for (const char *f : fields)
        b << (f ? std::optional<QString>(QString::fromUtf8(f)) : std::nullopt);
    while (b.size() < 9)
        b << std::nullopt;
    return b;
}

namespace {

struct Db {
    explicit Db(const QString &path)
    {
        if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr))
            qFatal("cannot open %s", qPrintable(path));
    }
    ~Db() { sqlite3_close(db); }
    void exec(const QString &sql) const
    {
        char *err = nullptr;
        if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &err) != SQLITE_OK)
            qFatal("%s: %s", qPrintable(sql), err);
    }
    sqlite3 *db = nullptr;
};

} // namespace

AppDir::AppDir()
{
    Db(dbPath()).exec(store::createTableStatement());
    Module1::setApplicationDirectory(path());
}

AppDir::~AppDir() { Module1::setApplicationDirectory(QString()); }

void AppDir::exec(const QString &sql) const { Db(dbPath()).exec(sql); }

void AppDir::insert(const QList<Book> &books) const
{
    Db d(dbPath());
    d.exec(QStringLiteral("BEGIN"));
    sqlite3_stmt *st = nullptr;
    const QString insert = QStringLiteral("INSERT INTO %1 VALUES (?,?,?,?,?,?,?,?,?)").arg(store::tableName());
    sqlite3_prepare16_v2(d.db, insert.utf16(), -1, &st, nullptr);
    for (const Book &b : books) {
        for (int i = 0; i < 9; ++i) {
            if (b.value(i))
                sqlite3_bind_text16(st, i + 1, b[i]->utf16(), int(b[i]->size() * 2), SQLITE_TRANSIENT);
            else
                sqlite3_bind_null(st, i + 1);
        }
        if (sqlite3_step(st) != SQLITE_DONE)
            qFatal("insert failed: %s", sqlite3_errmsg(d.db));
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    d.exec(QStringLiteral("COMMIT"));
}

QList<Book> AppDir::rows(const QString &where) const
{
    Db d(dbPath());
    QList<Book> out;
    sqlite3_stmt *st = nullptr;
    const QString sql = QStringLiteral("SELECT * FROM %1 %2 ORDER BY rowid").arg(store::tableName(), where.isEmpty() ? QString() : QStringLiteral("WHERE ") + where);
    if (sqlite3_prepare16_v2(d.db, sql.utf16(), -1, &st, nullptr) != SQLITE_OK)
        qFatal("%s", sqlite3_errmsg(d.db));
    while (sqlite3_step(st) == SQLITE_ROW) {
        Book b;
        for (int i = 0; i < 9; ++i) {
            if (sqlite3_column_type(st, i) == SQLITE_NULL)
                b << std::nullopt;
            else
                b << QString(reinterpret_cast<const QChar *>(sqlite3_column_text16(st, i)), sqlite3_column_bytes16(st, i) / 2);
        }
        out << b;
    }
    sqlite3_finalize(st);
    return out;
}

int AppDir::count() const { return int(rows().size()); }

MessageScript::MessageScript()
{
    common::setMessageHandler([this](const common::Message &m) {
        shown << m;
        if (!m_answers.empty()) {
            const auto b = m_answers.front();
            m_answers.pop_front();
            return b;
        }
        return m.defaultButton != QMessageBox::NoButton ? m.defaultButton : QMessageBox::Ok;
    });
}

MessageScript::~MessageScript() { common::setMessageHandler({}); }

ShellFake::ShellFake()
{
    common::shell::setOpener([this](const QUrl &u) {
        opened << u;
        return true;
    });
}

ShellFake::~ShellFake() { common::shell::setOpener({}); }

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

QString describe(const common::Message &m)
{
    return QString::fromLatin1(QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(m.icon)) + u' ' + m.title + u'|'
           + m.text + QStringLiteral("| ")
           + QString::fromLatin1(QMetaEnum::fromType<QMessageBox::StandardButtons>().valueToKeys(int(m.buttons)));
}

common::Message notFound()
{
    return {nullptr, QMessageBox::Warning, QStringLiteral("検索失敗"), QStringLiteral("データが見つかりませんでした。"),
            QMessageBox::Ok};
}

QString menuChoiceFor(const char *className)
{
    static const QMap<QString, QString> choices = {{QStringLiteral("Main"), QStringLiteral("新規登録")},
                                                   {QStringLiteral("Main2"), QStringLiteral("修正・削除")},
                                                   {QStringLiteral("db"), QStringLiteral("データ一覧")}};
    return choices.value(QLatin1String(className));
}

QWidget *openFromMenu(Menu &menu, const QString &choice)
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
        if (qobject_cast<common::DataScreen *>(w))
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

char *toString(const testsupport::Book &book)
{
    QStringList fields;
    for (const auto &f : book)
        fields << (f ? u'"' + *f + u'"' : QStringLiteral("NULL"));
    return qstrdup(fields.join(u',').toUtf8().constData());
}
