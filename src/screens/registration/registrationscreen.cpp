#include "screens/registration/registrationscreen.h"

#include "screens/common/backupstep.h"
#include "screens/common/datacontrol.h"
#include "screens/common/messages.h"
#include "screens/record_panel/recordpanel.h"
#include "store/connection.h"
#include "store/module1.h"
#include "store/samebook.h"

#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMetaProperty>
#include <QPushButton>

namespace screens {

RegistrationScreen::RegistrationScreen() : screens::DataScreen("Main", {0, 0, 8910, 4950})
{
    setWindowTitle(QStringLiteral("ブクレア"));
    setWindowIcon(QIcon(QStringLiteral(":/main.ico")));
    QWidget *c = client();

    // The data control comes first so that the panel can bind to it.
    Frame4 = screens::frame(c, "Frame4", QStringLiteral("データ操作"), {5760, 2520, 3015, 2295});
    Frame4->setFont(screens::font(12));
    Command1 = screens::button(Frame4, "Command1", QStringLiteral("新規登録"), {120, 360, 2775, 780});
    Command2 = screens::button(Frame4, "Command2", QStringLiteral("キャンセル"), {120, 1200, 2775, 435});
    for (QPushButton *b : {Command1, Command2})
        b->setFont(screens::font(12));
    Data1 = new screens::DataControl(Frame4);
    Data1->setObjectName(QStringLiteral("Data1"));
    Data1->setGeometry(screens::toPixels({120, 1800, 2775, 375}));
    Data1->setFont(screens::font(9));
    Data1->setCaption(QStringLiteral("新規登録"));
    // Shown but disabled: its move buttons cannot leave the new record.
    Data1->setEnabled(false);

    panel = new RecordPanel(c, Data1, {"Text7", 315, {1440, 120, 375, 255}});

    Line1 = screens::line(c, "Line1", -540, 9240, 0, QPalette::Mid);
    Line2 = screens::line(c, "Line2", 0, 9240, 15, QPalette::Base);

    setTabOrder(panel->lastInFocusOrder(), Command1);
    setTabOrder(Command1, Command2);
    panel->TitleBox->setFocus();

    connect(Command1, &QPushButton::clicked, this, &RegistrationScreen::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &RegistrationScreen::returnToMenu);
}

void RegistrationScreen::load()
{
    store::computeDatabasePath();
    Data1->setDatabaseName(store::databasePath());
    Data1->setRecordSource(store::RecordSource::wholeTable());
    Data1->refresh();
    Data1->recordset()->addNew();
    // A new record has no lending state yet.
    screens::setBackground(panel->Label4, screens::systemColor(QPalette::Button));
}

void RegistrationScreen::Command1_Click()
{
    // The same title and author already in the collection: the user may
    // be about to register a book twice. No keeps everything typed.
    if (!askAboutSameBook())
        return;
    // The first change of a day is preceded by a backup; a user who will not
    // go on without one keeps everything typed, as after a refused write.
    if (!screens::backupBeforeChange(this, store::databasePath()))
        return;
    // A refused write keeps the screen open with everything typed, so the
    // user can put it right and try again, or cancel.
    if (!guarded([this] { Data1->updateRecord(); }))
        return;
    // The book is written now: a failure to reopen the table is reported,
    // but the screen still closes, so the same book cannot be entered twice.
    guarded([this] { Data1->refresh(); });
    returnToMenu();
}

bool RegistrationScreen::askAboutSameBook()
{
    // The title and author as the save writes them (a long value whole).
    const auto valueOf = [](QWidget *box) { return box->metaObject()->userProperty().read(box).toString(); };
    store::SameBooks same;
    try {
        store::BusyWait operation;
        const auto connection = store::Connection::open(store::databasePath());
        same = store::findSameBooks(*connection, valueOf(panel->TitleBox), valueOf(panel->Text8), 3);
    } catch (const store::Error &) {
        // The table cannot be read now (another program holds the file
        // locked, or it is damaged): the save goes on to the write, which
        // meets the same trouble and reports it as a failed registration,
        // keeping everything typed.
        return true;
    }
    return same.count == 0 || screens::confirmSameBook(this, same.numbers, same.count);
}

void RegistrationScreen::dropPending()
{
    if (store::RecordSet *rs = Data1->recordset())
        rs->cancelUpdate();
}

} // namespace screens
