#include "app/instancelock.h"
#include "screens/common/datacontrol.h"
#include "screens/edit/editscreen.h"
#include "screens/list/grid.h"
#include "screens/list/listscreen.h"
#include "screens/record_panel/recordpanel.h"
#include "store/booktable.h"
#include "support/testsupport.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <cstdio>
#include <sqlite3.h>

using namespace testsupport;
using namespace screens;

namespace {

// Books numbered 1 to n, titled "本<number>", available for lending; the
// other fields empty.
QList<Book> numbered(int n)
{
    QList<Book> books;
    for (int i = 1; i <= n; ++i)
        books << Book{QString::number(i), QStringLiteral("本%1").arg(i), {}, {}, {}, {}, {}, QStringLiteral("可"), {}};
    return books;
}

QString title(EditScreen *s) { return s->panel->TitleBox->text(); }

// Another program, as a process of its own (see other_program.cpp).
void runOther(const QStringList &arguments)
{
    QProcess p;
    p.start(QStringLiteral(OTHER_PROGRAM), arguments);
    QVERIFY(p.waitForFinished(30000));
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, p.readAllStandardError().constData());
}

// Every row of the book table exactly as stored: the row number, then each
// field's storage class and bytes.
QStringList stored(const QString &dbPath)
{
    QStringList fields;
    for (const QString &f : store::fieldNames())
        fields << QStringLiteral("typeof([%1]) || ':' || hex([%1])").arg(f);
    const QByteArray sql = QStringLiteral("SELECT _rowid_ || '|' || %1 FROM tabel ORDER BY _rowid_")
                               .arg(fields.join(QStringLiteral(" || '|' || ")))
                               .toUtf8();
    QStringList rows;
    sqlite3 *db = nullptr;
    sqlite3_open_v2(dbPath.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW)
        rows << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
}

// A copy of the collection beside it with other titles ("<prefix><number>"),
// written often enough that its header differs from the original's.
QString otherCollection(const AppDir &dir, const QString &prefix)
{
    const QString path = dir.path() + QStringLiteral("/other-") + prefix + QStringLiteral(".mdb");
    QFile::remove(path);
    QFile::copy(dir.dbPath(), path);
    for (int i = 0; i < 20; ++i)
        execOn(path, QStringLiteral("UPDATE tabel SET 書名 = '%1' || 蔵書番号").arg(prefix));
    return path;
}

QStringList gridTitles(ListScreen *s)
{
    QStringList titles;
    for (int r = 0; r < s->fg->model()->rowCount(); ++r)
        titles << s->fg->model()->index(r, 1).data().toString();
    return titles;
}

} // namespace

// Writes reach exactly the book the user saw, and only the fields the user
// changed, with other programs, a second instance and a replaced file on
// the same collection. "Other programs" are processes of their own.
class TestEditSafety : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { closeScreens(); }

    // The last book on screen changes in the file behind the screen's back;
    // "修正" and "削除" then write nothing, say why, and show the book as
    // it is now.
    void writesReachOnlyTheBookSeen_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("shownAfter");
        const QList<std::tuple<const char *, const char *, const char *, const char *>> changes = {
            {"corrected by another program", "UPDATE tabel SET 書名 = '他で直した' WHERE _rowid_ = 3",
             "変更されています", "他で直した"},
            {"deleted by another program", "DELETE FROM tabel WHERE _rowid_ = 3", "削除されています", ""},
            {"deleted, its row number taken by a new book",
             "DELETE FROM tabel WHERE _rowid_ = 3; INSERT INTO tabel (蔵書番号, 書名) VALUES (9, '新しい本')",
             "変更されています", "新しい本"},
            {"file rewritten in place", "rewrite", "変更されています", "別の本3"},
        };
        for (const char *action : {"修正", "削除"}) {
            for (const auto &[name, change, reason, after] : changes)
                QTest::addRow("%s, %s", action, name)
                    << QString::fromUtf8(change) << QString::fromUtf8(reason) << QString::fromUtf8(after);
        }
    }
    void writesReachOnlyTheBookSeen()
    {
        QFETCH(QString, change);
        QFETCH(QString, reason);
        QFETCH(QString, shownAfter);
        const bool correct = QString::fromUtf8(QTest::currentDataTag()).startsWith(QStringLiteral("修正"));
        Opened<EditScreen> o(numbered(3));
        EditScreen *s = o.screen;
        click(s->Data1, "last");
        QCOMPARE(title(s), QStringLiteral("本3"));
        click(s->panel->Command4); // 貸出し中
        if (change == QLatin1String("rewrite"))
            runOther({QStringLiteral("rewrite"), o.dir.dbPath(), otherCollection(o.dir, QStringLiteral("別の本"))});
        else
            runOther({QStringLiteral("sql"), o.dir.dbPath(), change});
        const QStringList before = stored(o.dir.dbPath());
        o.messages.answer(QMessageBox::Yes);
        click(correct ? s->Command2 : s->Command1);
        QCOMPARE(stored(o.dir.dbPath()), before);
        QVERIFY(o.messages.shown.size() >= 2);
        const screens::Message &told = o.messages.shown.last();
        QCOMPARE(told.icon, QMessageBox::Critical);
        QVERIFY2(told.text.contains(reason) && told.text.contains(QStringLiteral("何も書き込んでいません")),
                 qPrintable(told.text));
        QCOMPARE(title(s), shownAfter);
        QCOMPARE(s->Data1->caption(), QStringLiteral("3"));
    }

    // Both instances on one book: each writes only what it changed, so
    // neither undoes the other's correction; the second one is refused.
    void concurrentCorrectionIsNotUndone()
    {
        Opened<EditScreen> o(numbered(2));
        EditScreen *s = o.screen;
        runOther({QStringLiteral("sql"), o.dir.dbPath(),
                  QStringLiteral("UPDATE tabel SET 書名 = '他で直した' WHERE _rowid_ = 1")});
        click(s->panel->Command4);
        o.messages.answer(QMessageBox::Yes);
        click(s->Command2);
        QCOMPARE(*o.dir.rows()[0][1], QStringLiteral("他で直した"));
        QCOMPARE(*o.dir.rows()[0][7], QStringLiteral("可"));
        // Now that the screen shows the book as it is, the correction goes through.
        QCOMPARE(title(s), QStringLiteral("他で直した"));
        click(s->panel->Command4);
        o.messages.answer(QMessageBox::Yes);
        click(s->Command2);
        QCOMPARE(*o.dir.rows()[0][1], QStringLiteral("他で直した"));
        QCOMPARE(*o.dir.rows()[0][7], QStringLiteral("中"));
    }

    // A correction leaves every field the user did not change byte for
    // byte as stored, whatever it holds.
    void correctionWritesOnlyWhatChanged_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value"); // an SQL literal
        QTest::newRow("text that is not UTF-8") << "著者名"
                                                << "CAST(X'E3FF41' AS TEXT)";
        QTest::newRow("a blob") << "出版社"
                                << "X'00FF10'";
        QTest::newRow("empty text") << "分類"
                                    << "''";
        QTest::newRow("a fraction in the year") << "出版年"
                                                << "2001.5";
        QTest::newRow("U+FEFF first") << "保管場所"
                                      << "CAST(X'EFBBBFE6A39A' AS TEXT)";
    }
    void correctionWritesOnlyWhatChanged()
    {
        QFETCH(QString, field);
        QFETCH(QString, value);
        Opened<EditScreen> o(numbered(2));
        o.dir.exec(QStringLiteral("UPDATE tabel SET [%1] = %2 WHERE _rowid_ = 1").arg(field, value));
        EditScreen *s = o.screen;
        click(s->Data1, "next");
        click(s->Data1, "first");
        const QStringList before = stored(o.dir.dbPath());
        o.messages.answer(QMessageBox::Yes);
        click(s->Command2); // nothing changed on screen
        QCOMPARE(stored(o.dir.dbPath()), before);

        s->panel->TitleBox->setText(QStringLiteral("直した本"));
        o.messages.answer(QMessageBox::Yes);
        click(s->Command2);
        QStringList after = stored(o.dir.dbPath()), expected = before;
        QStringList row = expected[0].split(u'|');
        row[2] = QStringLiteral("text:") + QString::fromLatin1(QStringLiteral("直した本").toUtf8().toHex().toUpper());
        expected[0] = row.join(u'|');
        QCOMPARE(after, expected);
        QCOMPARE(o.messages.shown.size(), 2);
    }

    // The data control's buttons follow the described controls in the
    // focus order, and keys move between books anywhere in the window.
    void keyboardBrowsing_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("reached");
        QTest::newRow("Ctrl+PageDown") << int(Qt::Key_PageDown) << int(Qt::ControlModifier) << "本3";
        QTest::newRow("Ctrl+PageUp") << int(Qt::Key_PageUp) << int(Qt::ControlModifier) << "本1";
        QTest::newRow("Alt+Home") << int(Qt::Key_Home) << int(Qt::AltModifier) << "本1";
        QTest::newRow("Alt+End") << int(Qt::Key_End) << int(Qt::AltModifier) << "本4";
    }
    void keyboardBrowsing()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, reached);
        Opened<EditScreen> o(numbered(4));
        EditScreen *s = o.screen;
        s->cmdadd->setFocus();
        QCOMPARE(tabWalk(4), QStringList({"cmdadd", "first", "previous", "next", "last"}));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space); // ▶| by keyboard
        QCOMPARE(title(s), QStringLiteral("本4"));
        click(s->Data1, "first");
        click(s->Data1, "next");
        s->panel->TitleBox->setFocus();
        QTest::keyClick(s->panel->TitleBox, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(title(s), reached);
        QVERIFY(o.messages.shown.isEmpty());
    }

    // A change and then a move: the user is asked whether to save it.
    void changedBookIsSavedDroppedOrKeptOnMoving_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("changedElsewhere");
        QTest::addColumn<QString>("fileTitle");
        QTest::addColumn<QString>("shown"); // caption and title after the answer
        QTest::newRow("はい") << int(QMessageBox::Yes) << false << "保存する題"
                              << "2 本2";
        QTest::newRow("いいえ") << int(QMessageBox::No) << false << "本1"
                                << "2 本2";
        QTest::newRow("キャンセル") << int(QMessageBox::Cancel) << false << "本1"
                                    << "1 保存する題";
        QTest::newRow("はい, changed by another program") << int(QMessageBox::Yes) << true << "他で直した"
                                                          << "1 他で直した";
    }
    void changedBookIsSavedDroppedOrKeptOnMoving()
    {
        QFETCH(int, answer);
        QFETCH(bool, changedElsewhere);
        QFETCH(QString, fileTitle);
        QFETCH(QString, shown);
        Opened<EditScreen> o(numbered(3));
        EditScreen *s = o.screen;
        s->panel->TitleBox->setText(QStringLiteral("保存する題"));
        if (changedElsewhere)
            runOther({QStringLiteral("sql"), o.dir.dbPath(),
                      QStringLiteral("UPDATE tabel SET 書名 = '他で直した' WHERE _rowid_ = 1")});
        o.messages.answer(QMessageBox::StandardButton(answer));
        QTest::keyClick(s->panel->TitleBox, Qt::Key_PageDown, Qt::ControlModifier);
        QVERIFY(!o.messages.shown.isEmpty());
        QCOMPARE(describe(o.messages.shown[0]),
                 describe({nullptr, QMessageBox::Question, QStringLiteral("データ修正"),
                           QStringLiteral("変更を保存しますか？"),
                           QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes}));
        QCOMPARE(o.messages.shown.size(), changedElsewhere ? 2 : 1);
        QCOMPARE(*o.dir.rows()[0][1], fileTitle);
        QCOMPARE(s->Data1->caption() + u' ' + title(s), shown);
        // A book left unchanged, or saved, asks nothing on the next move.
        if (answer != QMessageBox::Cancel) {
            click(s->Data1, "first");
            QCOMPARE(o.messages.shown.size(), changedElsewhere ? 2 : 1);
        }
    }

    // A second instance on the same collection is told, and may go on; an
    // instance that crashed leaves nothing behind that would tell it.
    void secondInstanceIsTold()
    {
        QTemporaryDir folder;
        QProcess first, second;
        for (QProcess *p : {&first, &second}) {
            p->start(QStringLiteral(OTHER_PROGRAM), {QStringLiteral("instance"), folder.path()});
            QVERIFY(p->waitForReadyRead(30000));
        }
        QCOMPARE(first.readAllStandardOutput(), QByteArray("held\n"));
        QCOMPARE(second.readAllStandardOutput(), QByteArray("held beside another\n"));
        for (QMessageBox::StandardButton answer : {QMessageBox::Yes, QMessageBox::No}) {
            MessageScript messages;
            messages.answer(answer);
            const app::InstanceLock lock(folder.path());
            QVERIFY(lock.otherInstance());
            QCOMPARE(app::goOnBesideOtherInstance(lock, folder.path()), answer == QMessageBox::Yes);
            QCOMPARE(messages.shown.size(), 1);
            QCOMPARE(messages.shown[0].icon, QMessageBox::Warning);
            QVERIFY(messages.shown[0].text.contains(folder.path()));
        }
        first.kill(); // as a crash: no chance to clean up
        QVERIFY(first.waitForFinished(30000));
        QVERIFY(app::InstanceLock(folder.path()).otherInstance()); // the second one still runs
        second.closeWriteChannel();
        QVERIFY(second.waitForFinished(30000));
        MessageScript messages;
        const app::InstanceLock alone(folder.path());
        QVERIFY(!alone.otherInstance());
        QVERIFY(app::goOnBesideOtherInstance(alone, folder.path()));
        QVERIFY(messages.shown.isEmpty());
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{app::InstanceLock::fileName()});
    }

    // The list opened before the file was replaced neither searches nor
    // exports the old one.
    void listNoticesAReplacedFile_data()
    {
        QTest::addColumn<bool>("inPlace");
        QTest::newRow("renamed over") << false;
        QTest::newRow("rewritten in place") << true;
    }
    void listNoticesAReplacedFile()
    {
        QFETCH(bool, inPlace);
        Opened<ListScreen> o(numbered(3));
        ListScreen *s = o.screen;
        auto replace = [&](const QString &prefix) {
            const QString other = otherCollection(o.dir, prefix);
            if (inPlace)
                runOther({QStringLiteral("rewrite"), o.dir.dbPath(), other});
            else
                QVERIFY(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(o.dir.dbPath()).constData())
                        == 0);
        };
        replace(QStringLiteral("新"));
        click(s->Command4);
        QCOMPARE(o.messages.shown.size(), 1);
        QVERIFY2(o.messages.shown[0].text.contains(QStringLiteral("置き換えたか変更しました")),
                 qPrintable(o.messages.shown[0].text));
        QVERIFY(!QFile::exists(o.dir.path() + QStringLiteral("/ブクレア.xls")));
        QCOMPARE(gridTitles(s), QStringList({"新1", "新2", "新3"}));

        replace(QStringLiteral("改"));
        s->Text1->setText(QStringLiteral("改"));
        click(s->Command14);
        QCOMPARE(gridTitles(s), QStringList({"改1", "改2", "改3"}));
        QCOMPARE(o.messages.shown.size(), 1);
    }

    // Damage that the engine reads without an error of its own (random
    // bytes in the tail of the table's last page: its first book's row
    // number among them) is refused by the edit screen as by the list.
    void damageReadWithoutErrorIsRefused_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {1u, 2u, 3u})
            QTest::addRow("seed %u", seed) << seed;
    }
    void damageReadWithoutErrorIsRefused()
    {
        QFETCH(quint32, seed);
        AppDir dir;
        dir.insert(numbered(1000));
        dir.scramble(QFileInfo(dir.dbPath()).size() - 64, 64, seed);
        MessageScript messages;
        app::Navigator navigator;
        for (const QString &choice : {QStringLiteral("データ一覧"), QStringLiteral("修正・削除")}) {
            QVERIFY(!openFromMenu(navigator.menu(), choice));
            settle();
        }
        QCOMPARE(messages.shown.size(), 2);
        for (const screens::Message &m : messages.shown)
            QVERIFY2(m.text.contains(QStringLiteral("ファイルが壊れています")) && m.text.contains(dir.dbPath()),
                     qPrintable(m.text));
    }

    // A generated field named like the row number hides it from the table's
    // plain field list; every book still shows once.
    void generatedFieldNamedRowid()
    {
        AppDir dir;
        dir.exec(QStringLiteral(
            "DROP TABLE tabel; CREATE TABLE tabel (蔵書番号 INTEGER, 書名 TEXT, 著者名 TEXT, 出版社 TEXT, "
            "出版年 INTEGER, 分類 TEXT, 保管場所 TEXT, 貸出 TEXT, キーワード TEXT, "
            "rowid INTEGER GENERATED ALWAYS AS (1) VIRTUAL)"));
        dir.insert(numbered(3));
        MessageScript messages;
        app::Navigator navigator;
        ListScreen *list = openFromMenu<ListScreen>(navigator.menu());
        QVERIFY(list);
        QCOMPARE(gridTitles(list), QStringList({"本1", "本2", "本3"}));
        QVERIFY(messages.shown.isEmpty());
    }
};

QTEST_MAIN(TestEditSafety)
#include "test_edit_safety.moc"
