#include "screens/edit/editscreen.h"

#include "screens/common/backupstep.h"
#include "screens/common/datacontrol.h"
#include "screens/common/messages.h"
#include "screens/record_panel/recordpanel.h"
#include "store/module1.h"

#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace screens {

EditScreen::EditScreen() : screens::DataScreen("Main2", {0, 0, 8895, 4950}, "nmuhlo")
{
    setWindowTitle(QStringLiteral("ブクレア")); // replaced by the load at once
    setWindowIcon(QIcon(QStringLiteral(":/bukurea.ico")));
    QWidget *c = client();

    // A thin separator under the menu bar, across the whole width.
    Line1 = screens::line(c, "Line1", -645, 8985, 0, QPalette::Mid);
    Line2 = screens::line(c, "Line2", 0, 8880, 15, QPalette::HighlightedText);

    // The data control stands in "データ操作"; the panel binds to it, so it
    // is made first and placed with the frame below.
    Frame4 = screens::frame(c, "Frame4", QStringLiteral("データ操作"), {5760, 2520, 3015, 2295});
    Frame4->setFont(screens::font(12));
    Data1 = new screens::DataControl(Frame4);
    Data1->setObjectName(QStringLiteral("Data1"));
    Data1->setGeometry(screens::toPixels({1080, 1800, 1815, 375}));

    panel = new RecordPanel(c, Data1, {"Text4", 345, {1680, 240, 615, 255}});

    // The buttons of the frame use the window's own font, not the frame's.
    const QFont plain = screens::font(9);
    Data1->setFont(plain);
    auto button = [&](const char *name, const char *caption, screens::Twips at) {
        QPushButton *b = screens::button(Frame4, name, QString::fromUtf8(caption), at);
        b->setFont(plain);
        return b;
    };
    Command2 = button("Command2", "修正", {120, 360, 1335, 375});
    Command1 = button("Command1", "削除", {120, 840, 1335, 375});
    cmdrep = button("cmdrep", "データ一覧", {120, 1320, 1335, 375});
    cmdadd = button("cmdadd", "メニュー", {120, 1800, 855, 375});

    Text5 = screens::textBox(Frame4, "Text5", {1620, 360, 1215, 375});
    screens::setBackground(Text5, Qt::white);
    Text5->setFont(screens::font(12));
    Text5->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    Command5 = button("Command5", "蔵書番号検索", {1620, 840, 1215, 375});
    Command6 = button("Command6", "検索リセット", {1620, 1320, 1215, 375});
    for (QPushButton *b : {Command5, Command6})
        screens::setBackground(b, QColor(192, 192, 255));
    // Only a box around the search group, drawn behind it.
    Frame11 = screens::frame(Frame4, "Frame11", QString(), {1560, 210, 1335, 1545});
    Frame11->lower();

    Text7 = screens::textBox(c, "Text7", {8160, 3960, 525, 315});
    screens::setBackground(Text7, screens::systemColor(QPalette::Window));
    Text7->setEnabled(false);
    Text7->hide();

    // The data control's buttons come last, after the described controls:
    // a keyboard user reaches them without changing the order of the rest.
    const QList<QWidget *> order =
        QList<QWidget *>{panel->lastInFocusOrder(), Text5, Command5, Command6, Command2, Command1, cmdrep, cmdadd}
        + Data1->enableKeyboard();
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    panel->TitleBox->setFocus();

    connect(Data1, &screens::DataControl::Reposition, this, &EditScreen::Data1_Reposition);
    Data1->setLeaveCheck([this] { return saveBeforeLeaving(); });
    connect(Command2, &QPushButton::clicked, this, &EditScreen::Command2_Click);
    connect(Command1, &QPushButton::clicked, this, &EditScreen::Command1_Click);
    connect(Command5, &QPushButton::clicked, this, &EditScreen::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &EditScreen::Command6_Click);
    connect(cmdadd, &QPushButton::clicked, this, &EditScreen::cmdadd_Click);
    connect(cmdrep, &QPushButton::clicked, this, &EditScreen::cmdrep_Click);
}

void EditScreen::load()
{
    store::computeDatabasePath();
    Data1->setDatabaseName(store::databasePath());
    Data1->setRecordSource(store::RecordSource::wholeTable());
    Data1->refresh();
    Data1->recordset()->moveLast();
    m_bookCount = Data1->recordset()->recordCount();
    Data1->refresh(); // back to the first book
    showBookCount();
    panel->showLendingState();
}

void EditScreen::showBookCount()
{
    const QString count = QString::number(m_bookCount);
    Text7->setText(count);
    setWindowTitle(captionWithCount(QStringLiteral("ブクレア　修正・削除"), m_bookCount));
}

bool EditScreen::hasCurrentBook() const
{
    const store::RecordSet *rs = Data1->recordset();
    return rs && rs->hasCurrent();
}

// The position of the current book counted from 1; an empty set shows 0.
void EditScreen::Data1_Reposition()
{
    Data1->setCaption(QString::number(Data1->recordset()->absolutePosition() + 1));
    panel->showLendingState();
}

// "修正": writes the current book with the panel's contents once confirmed.
void EditScreen::Command2_Click()
{
    // Without a current book (an empty search result) there is nothing to
    // correct, and nothing may be written.
    if (!hasCurrentBook())
        return;
    // A book that could not be read shows empty boxes: writing them would
    // empty the book.
    if (!guarded([this] { Data1->requireCurrentRowShown(QStringLiteral("データを修正しません。")); }))
        return;
    if (!screens::confirm(this, QStringLiteral("データ修正"), QStringLiteral("このデータを修正します。"))
        || !screens::backupBeforeChange(this, store::databasePath()))
        return;
    writeCorrection();
}

// A refused write leaves the corrections in the panel to try again; a book
// that another program changed meanwhile is shown as it is now.
bool EditScreen::writeCorrection()
{
    return guarded([this] {
        store::RecordSet *rs = Data1->recordset();
        rs->edit();
        Data1->updateRecord();
    });
}

// Before the data control moves to another book: a book with changes in
// the panel is written (as "修正" writes it, with its checks), dropped, or
// kept on screen, as the user answers. False keeps the book.
bool EditScreen::saveBeforeLeaving()
{
    if (!hasCurrentBook() || !Data1->edited())
        return true;
    const QMessageBox::StandardButton answer = screens::showMessage(
        {this, QMessageBox::Question, QStringLiteral("データ修正"), QStringLiteral("変更を保存しますか？"),
         QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes});
    if (answer == QMessageBox::No)
        return true;
    if (answer != QMessageBox::Yes)
        return false;
    return screens::backupBeforeChange(this, store::databasePath()) && writeCorrection();
}

// "削除": deletes the current book once confirmed, then shows the last book
// of the record source run again. The last book of the table is never
// deleted here: at a count of 1 the button disables itself.
void EditScreen::Command1_Click()
{
    if (m_bookCount > 1 && hasCurrentBook()) {
        // A book that could not be read is not deleted unseen.
        if (guarded([this] { Data1->requireCurrentRowShown(QStringLiteral("データを削除しません。")); })
            && screens::confirm(this, QStringLiteral("データ削除"), QStringLiteral("このデータを削除します。"))
            && screens::backupBeforeChange(this, store::databasePath()) && guarded([this] { Data1->deleteRecord(); })) {
            // The book is gone from the file: the count follows at once,
            // whatever happens to the reopening below.
            --m_bookCount;
            showBookCount();
            guarded([this] {
                Data1->refresh();
                Data1->recordset()->moveLast();
            });
        }
    }
    if (m_bookCount == 1)
        Command1->setEnabled(false);
}

// "蔵書番号検索": every book whose number contains the typed text.
void EditScreen::Command5_Click()
{
    // The typed text is taken as it is, anywhere in the number; wildcards
    // keep their meaning.
    const store::RecordSource previous = Data1->recordSource();
    Data1->setRecordSource(store::RecordSource::search(store::Field::Number, u'*' + Text5->value() + u'*'));
    if (!guarded([this] { Data1->refresh(); })) {
        Data1->setRecordSource(previous); // the open record set is still the previous one
        return;
    }
    // The refresh has shown the first book found in the panel; an empty
    // result stays open.
    if (Data1->recordset()->recordCount() == 0)
        screens::notifyNotFound(this);
}

// "検索リセット": searches with an empty number, which finds every book
// that has a number.
void EditScreen::Command6_Click()
{
    Text5->setText(QString());
    Command5->click();
}

void EditScreen::dropPending()
{
    if (!hasCurrentBook())
        return;
    guarded([this] {
        store::RecordSet *rs = Data1->recordset();
        rs->edit();
        rs->cancelUpdate();
    });
}

void EditScreen::cmdadd_Click() { returnToMenu(); }

// Straight on to the list: what was typed goes with the screen, unwritten.
void EditScreen::cmdrep_Click()
{
    // The list loads while this screen is still on view (it may have to wait
    // for a locked file); then this screen goes.
    emit listRequested();
    unload();
}

} // namespace screens
