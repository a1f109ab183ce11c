#include "screens/list/listscreen.h"

#include "export/workbook.h"
#include "screens/common/datacontrol.h"
#include "screens/common/messages.h"
#include "screens/list/booktablemodel.h"
#include "screens/list/grid.h"
#include "screens/list/listexport.h"
#include "store/module1.h"

#include <QGroupBox>
#include <QIcon>
#include <QLineEdit>
#include <QPushButton>

namespace screens {

namespace {

const QString &designCaption()
{
    static const QString caption = QStringLiteral("ブクレア　【一覧表示】");
    return caption;
}

} // namespace

ListScreen::ListScreen() : screens::DataScreen("db", {0, 0, 11910, 7800})
{
    setWindowTitle(designCaption());
    setWindowIcon(QIcon(QStringLiteral(":/bukurea.ico")));
    QWidget *c = client();

    // A thin separator under the menu bar.
    Line1_0 = screens::line(c, "Line1_0", 0, 11880, 0, QPalette::Mid);
    Line1_1 = screens::line(c, "Line1_1", 0, 11880, 15, QPalette::Base);

    // The data control and the count box are never shown.
    Data1 = new screens::DataControl(c);
    Data1->setObjectName(QStringLiteral("Data1"));
    Data1->setGeometry(screens::toPixels(screens::Twips{180, 4065, 1755, 375}));
    Data1->setCaption(QStringLiteral("Data1"));
    Data1->hide();
    Text2 = screens::textBox(c, "Text2", {1965, 4155, 525, 270});
    Text2->setText(QStringLiteral("Text2"));
    Text2->hide();

    fg = new Grid(c);
    fg->setObjectName(QStringLiteral("fg"));
    fg->setGeometry(screens::toPixels(screens::Twips{120, 120, 11700, 5835}));
    fgModel = new BookTableModel(Data1, fg);
    fg->setModel(fgModel);

    Frame2 = screens::frame(c, "Frame2", QStringLiteral("検索（キーワードを1つ入力⇒ジャンル選択）"),
                            {120, 6120, 5535, 1575});
    Text1 = screens::textBox(Frame2, "Text1", {300, 330, 2175, 270});
    screens::setInputMethod(Text1, true);
    Command14 = screens::button(Frame2, "Command14", QStringLiteral("書名"), {300, 690, 975, 735});
    Command12 = screens::button(Frame2, "Command12", QStringLiteral("著者名"), {1260, 690, 1335, 375});
    Command13 = screens::button(Frame2, "Command13", QStringLiteral("出版社"), {1260, 1050, 1335, 375});
    Command6 = screens::button(Frame2, "Command6", QStringLiteral("出版年"), {2580, 330, 1335, 375});
    Command8 = screens::button(Frame2, "Command8", QStringLiteral("分類"), {2580, 690, 1335, 375});
    Command10 = screens::button(Frame2, "Command10", QStringLiteral("蔵書番号"), {2580, 1050, 1335, 375});
    Command7 = screens::button(Frame2, "Command7", QStringLiteral("設定キー"), {3900, 330, 1335, 375});
    Command9 = screens::button(Frame2, "Command9", QStringLiteral("貸出の状態"), {3900, 690, 1335, 375});
    Command11 = screens::button(Frame2, "Command11", QStringLiteral("保管場所"), {3900, 1050, 1335, 375});

    Frame4 = screens::frame(c, "Frame4", QStringLiteral("蔵書番号で並べ替え"), {5760, 6120, 1935, 1575});
    Command15 = screens::button(Frame4, "Command15", QStringLiteral("降順"), {120, 360, 1695, 495});
    Command5 = screens::button(Frame4, "Command5", QStringLiteral("昇順"), {120, 960, 1695, 495});
    Frame1 = screens::frame(c, "Frame1", QStringLiteral("出版年で並べ替え"), {7800, 6120, 1935, 1575});
    Command2 = screens::button(Frame1, "Command2", QStringLiteral("降順"), {120, 360, 1695, 495});
    Command3 = screens::button(Frame1, "Command3", QStringLiteral("昇順"), {120, 960, 1695, 495});
    Frame3 = screens::frame(c, "Frame3", QStringLiteral("データ操作"), {9840, 6120, 1935, 975});
    Command4 = screens::button(Frame3, "Command4", QStringLiteral("Excelデータ変換"), {120, 360, 1695, 495});
    Command1 = screens::button(c, "Command1", QStringLiteral("メニュー"), {9960, 7200, 1695, 495});

    // The focus order: the search box comes first and holds the focus when
    // the screen opens.
    const QList<QWidget *> order = {Text1,     Command14, Command12, Command13, Command6,  Command8,
                                    Command10, Command7,  Command9,  Command11, Command4,  fg,
                                    Text2,     Command2,  Command3,  Command5,  Command15, Command1};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    Text1->setFocus();

    connect(Command1, &QPushButton::clicked, this, &ListScreen::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &ListScreen::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &ListScreen::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &ListScreen::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &ListScreen::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &ListScreen::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &ListScreen::Command7_Click);
    connect(Command8, &QPushButton::clicked, this, &ListScreen::Command8_Click);
    connect(Command9, &QPushButton::clicked, this, &ListScreen::Command9_Click);
    connect(Command10, &QPushButton::clicked, this, &ListScreen::Command10_Click);
    connect(Command11, &QPushButton::clicked, this, &ListScreen::Command11_Click);
    connect(Command12, &QPushButton::clicked, this, &ListScreen::Command12_Click);
    connect(Command13, &QPushButton::clicked, this, &ListScreen::Command13_Click);
    connect(Command14, &QPushButton::clicked, this, &ListScreen::Command14_Click);
    connect(Command15, &QPushButton::clicked, this, &ListScreen::Command15_Click);
}

void ListScreen::load()
{
    store::computeDatabasePath();
    Data1->setDatabaseName(store::databasePath());
    Data1->setRecordSource(store::RecordSource::wholeTable());
    Data1->refresh();
    // Moving to the last row of an empty table does nothing here, and the
    // count is then 0: an empty collection opens as an empty list.
    Data1->recordset()->moveLast();
    bookCount = Data1->recordset()->recordCount();
    Data1->refresh();
    Text2->setText(QString::number(bookCount));
    setWindowTitle(captionWithCount(designCaption(), bookCount));
    const int widths[] = {150, 900, 3000, 1200, 1400, 650, 2400, 1000, 450, 1300};
    for (int column = 0; column < 10; ++column)
        fg->setColWidth(column, widths[column]);
    Data1->setRecordSource(store::RecordSource::sorted(store::Field::Number, store::Direction::Ascending));
    Data1->refresh();
}

void ListScreen::fieldSearch(store::Field field)
{
    guarded([&] {
        // The keyword is taken as typed, anywhere in the field; wildcards
        // keep their meaning.
        store::lastSearch() = store::RecordSource::search(field, u'*' + Text1->value() + u'*');
        Data1->setRecordSource(store::lastSearch());
        Data1->refresh();
        if (Data1->recordset()->recordCount() < 1) {
            screens::notifyNotFound(this);
        }
    });
}

void ListScreen::sortBy(store::Field field, store::Direction direction)
{
    guarded([&] {
        Data1->setRecordSource(store::RecordSource::sorted(field, direction));
        Data1->refresh();
    });
}

void ListScreen::Command14_Click() { fieldSearch(store::Field::Title); }
void ListScreen::Command12_Click() { fieldSearch(store::Field::Author); }
void ListScreen::Command13_Click() { fieldSearch(store::Field::Publisher); }
void ListScreen::Command6_Click() { fieldSearch(store::Field::Year); }
void ListScreen::Command8_Click() { fieldSearch(store::Field::Category); }
void ListScreen::Command10_Click() { fieldSearch(store::Field::Number); }
// "設定キー" searches the keywords, "貸出の状態" the lending state.
void ListScreen::Command7_Click() { fieldSearch(store::Field::Keywords); }
void ListScreen::Command9_Click() { fieldSearch(store::Field::Lending); }
void ListScreen::Command11_Click() { fieldSearch(store::Field::Place); }

void ListScreen::Command15_Click() { sortBy(store::Field::Number, store::Direction::Descending); }
void ListScreen::Command2_Click() { sortBy(store::Field::Year, store::Direction::Descending); }
void ListScreen::Command3_Click() { sortBy(store::Field::Year, store::Direction::Ascending); }

// The reset: reopens, recounts and lists every book by ascending number.
void ListScreen::Command5_Click()
{
    guarded([this] { load(); });
}

// Writes the list on screen, exactly as shown, into the export workbook.
void ListScreen::Command4_Click()
{
    const store::RecordSet *rs = Data1->recordset();
    if (!rs)
        return;
    bool reloaded = false;
    guarded([&] {
        // The rows on screen may no longer be the books in the file (it was
        // replaced or rewritten by another program): nothing is exported
        // until the user has seen the list as it is now. A file that cannot
        // be read now is left to the export, which says why.
        bool changed = false;
        try {
            changed = rs->fileChanged();
        } catch (const store::Error &) {
        }
        if (changed) {
            Data1->refresh();
            reloaded = true;
            return;
        }
        exportList(this, *rs, exporting::exportPath());
    });
    if (reloaded)
        screens::showMessage(
            {this, QMessageBox::Warning, QStringLiteral("Excelデータ変換"),
             QStringLiteral("一覧を表示した後で、他のプログラムが %1 を置き換えたか変更しました。\r\n"
                            "一覧を今のデータで表示し直しました。確かめてから、もう一度書き出してください。")
                 .arg(store::databasePath())});
}

const store::RecordSet *ListScreen::rowsToExport() const { return Data1->recordset(); }

void ListScreen::Command1_Click() { returnToMenu(); }

} // namespace screens
