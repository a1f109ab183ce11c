#include "screens/record_panel/recordpanel.h"

#include "screens/common/datacontrol.h"
#include "screens/common/numberbox.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace screens {

namespace {

enum class Ime { On, Off, Untouched };
// What the box holds: any text, a number (full-width forms folded as the
// user types) or a year (a number, or a year of a Japanese era).
enum class Holds { Text, Number, Year };

struct BoxDesign {
    const char *field;
    QColor background;
    double points;
    bool bold;
    Qt::Alignment alignment;
    Ime ime;
    Holds holds = Holds::Text;
};

QLineEdit *boundBox(QGroupBox *frame, const char *name, int width, const BoxDesign &d, screens::DataControl *data)
{
    const screens::Twips at{120, 360, width, 375};
    QLineEdit *box = d.holds == Holds::Year     ? screens::place(new screens::YearBox(frame), name, at)
                     : d.holds == Holds::Number ? screens::place(new screens::NumberBox(frame), name, at)
                                                : screens::textBox(frame, name, at);
    screens::setBackground(box, d.background);
    box->setFont(screens::font(d.points, d.bold));
    box->setAlignment(d.alignment | Qt::AlignVCenter);
    if (d.ime != Ime::Untouched)
        screens::setInputMethod(box, d.ime == Ime::On);
    data->bind(box, QString::fromUtf8(d.field));
    return box;
}

} // namespace

const QStringList &RecordPanel::categories()
{
    static const QStringList items = {
        QStringLiteral("0 年鑑・百科事典・図書館"),
        QStringLiteral("1 哲学・宗教"),
        QStringLiteral("2 歴史・伝記・地理"),
        QStringLiteral("3 社会科学・風俗・軍事・教育"),
        QStringLiteral("4 自然科学・医学"),
        QStringLiteral("5 技術・家庭"),
        QStringLiteral("6 産業・交通"),
        QStringLiteral("7 芸術・体育"),
        QStringLiteral("8 言語"),
        QStringLiteral("9 文学"),
    };
    return items;
}

RecordPanel::RecordPanel(QWidget *client, screens::DataControl *data, const Placement &placement) : QObject(client)
{
    auto frame = [client](const char *name, const char *caption, screens::Twips at) {
        QGroupBox *f = screens::frame(client, name, QString::fromUtf8(caption), at);
        f->setFont(screens::font(12));
        return f;
    };
    Frame3 = frame("Frame3", "書名", {120, 120, 5415, 855});
    Frame6 = frame("Frame6", "著者名", {120, 1080, 5415, 855});
    Frame7 = frame("Frame7", "出版社", {120, 2040, 5415, 855});
    Frame8 = frame("Frame8", "出版年", {120, 3000, 2295, 855});
    Frame9 = frame("Frame9", "分類", {2520, 3000, 3015, 855});
    Frame5 = frame("Frame5", "蔵書番号", {120, 3960, 1455, 855});
    Frame1 = frame("Frame1", "検索用キーワード", {1680, 3960, 3855, 855});
    Frame2 = frame("Frame2", "現在の状態", {5760, 120, 3015, 1335});
    Frame10 = frame("Frame10", "保管場所", {5760, 1560, 3015, 855});

    const QColor lilac(192, 192, 255);
    const Qt::Alignment left = Qt::AlignLeft, centre = Qt::AlignHCenter;
    TitleBox = boundBox(Frame3, placement.titleBoxName, 5175, {"書名", lilac, 12, false, left, Ime::On}, data);
    Text8 = boundBox(Frame6, "Text8", 5175, {"著者名", lilac, 12, false, left, Ime::On}, data);
    Text9 = boundBox(Frame7, "Text9", 5175, {"出版社", lilac, 12, false, left, Ime::On}, data);
    Text3 = boundBox(Frame8, "Text3", 1575, {"出版年", lilac, 14.25, true, centre, Ime::Off, Holds::Year}, data);
    Label1 = screens::label(Frame8, "Label1", QStringLiteral("年"), {1800, 390, placement.yearLabelWidth, 315});
    Label1->setFont(screens::font(14.25));

    Combo1 = screens::comboBox(Frame9, "Combo1", {120, 360, 2775, 315});
    Combo1->addItems(categories());
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(QString());
    screens::setBackground(Combo1, QColor(192, 255, 192));
    Combo1->setFont(screens::font(9.75));
    // Bound through its text box, which keeps a long value whole.
    data->bind(Combo1->lineEdit(), QStringLiteral("分類"));

    Text6 = boundBox(Frame5, "Text6", 1215, {"蔵書番号", lilac, 12, true, centre, Ime::Untouched, Holds::Number}, data);
    Text2 = boundBox(Frame1, "Text2", 3615, {"キーワード", QColor(255, 255, 192), 12, false, left, Ime::On}, data);
    Text1 = boundBox(Frame10, "Text1", 2775, {"保管場所", QColor(255, 192, 192), 12, false, left, Ime::On}, data);

    Command3 = screens::button(Frame2, "Command3", QStringLiteral("貸出し可能"), {120, 360, 1335, 375});
    Command4 = screens::button(Frame2, "Command4", QStringLiteral("貸出し中"), {120, 840, 1335, 375});
    for (auto [b, colour] : {std::pair{Command3, availableColor()}, std::pair{Command4, lentOutColor()}}) {
        screens::setBackground(b, colour);
        b->setFont(screens::font(11.25));
    }
    Label4 = screens::label(Frame2, "Label4", QString(), {1560, 360, 1335, 855});
    Label4->setFrameStyle(QFrame::Box | QFrame::Plain);
    screens::setBackground(Label4, availableColor());
    Label5 = screens::label(Frame2, "Label5", QString(), placement.lendingLabelAt);
    Label5->hide();
    data->bind(Label5, QStringLiteral("貸出"), "text");

    const QList<QWidget *> order = {TitleBox, Text8, Text9, Text3, Combo1, Text6, Text2, Command3, Command4, Text1};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    connect(Command3, &QPushButton::clicked, this, &RecordPanel::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &RecordPanel::Command4_Click);
}

QWidget *RecordPanel::lastInFocusOrder() const { return Text1; }

void RecordPanel::Command3_Click()
{
    screens::setBackground(Label4, availableColor());
    Label5->setText(QStringLiteral("可"));
}

void RecordPanel::Command4_Click()
{
    screens::setBackground(Label4, lentOutColor());
    Label5->setText(QStringLiteral("中"));
}

void RecordPanel::showLendingState()
{
    const QString value = Label5->text();
    if (value == QStringLiteral("可"))
        screens::setBackground(Label4, availableColor());
    else if (value == QStringLiteral("中"))
        screens::setBackground(Label4, lentOutColor());
}

} // namespace screens
