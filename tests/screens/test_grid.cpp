#include "screens/list/grid.h"
#include "screens/list/listscreen.h"
#include "support/testsupport.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QTest>
#include <QToolTip>

using namespace testsupport;
using namespace screens;

namespace {

const QString kPlace = QStringLiteral("二階の書斎の奥の本棚の上から三段目");

// Drags the right edge of a column's heading by dx pixels, as the user does.
void dragColumnEdge(QHeaderView *h, int section, int dx)
{
    const int y = h->height() / 2, x = h->sectionViewportPosition(section) + h->sectionSize(section) - 1;
    QTest::mouseMove(h->viewport(), QPoint(x, y));
    QTest::mousePress(h->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
    QTest::mouseMove(h->viewport(), QPoint(x + dx / 2, y));
    QTest::mouseMove(h->viewport(), QPoint(x + dx, y));
    QTest::mouseRelease(h->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(x + dx, y));
}

// The tooltip the grid shows with the mouse resting on a cell.
QString tooltipAt(Grid *fg, int row, int column)
{
    QToolTip::hideText();
    const QPoint at = fg->visualRect(fg->model()->index(row, column)).center();
    QHelpEvent help(QEvent::ToolTip, at, fg->viewport()->mapToGlobal(at));
    QApplication::sendEvent(fg->viewport(), &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

} // namespace

// The list's columns can be widened by the user, and a cell shows its whole
// text as a tooltip.
class TestGrid : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { closeScreens(); }

    // A width the user dragged stays through searches and sorts; the reset
    // ("昇順" under 蔵書番号) sets the designed widths again.
    void columnsWidenedByTheUser()
    {
        Opened<ListScreen> o({book({"1", "本", "著者", nullptr, nullptr, nullptr, kPlace.toUtf8().constData()})});
        QHeaderView *h = o.screen->fg->horizontalHeader();
        const int designed = h->sectionSize(6);
        QCOMPARE(h->sectionResizeMode(6), QHeaderView::Interactive);
        dragColumnEdge(h, 6, 120);
        QCOMPARE(h->sectionSize(6), designed + 120);
        typeText(o.screen->Text1, QStringLiteral("書斎"));
        click(o.screen, "Command11"); // search 保管場所
        QCOMPARE(o.screen->fg->model()->rowCount(), 1);
        QCOMPARE(h->sectionSize(6), designed + 120);
        click(o.screen, "Command2"); // sort 出版年 降順
        QCOMPARE(h->sectionSize(6), designed + 120);
        click(o.screen, "Command5"); // the reset
        QCOMPARE(h->sectionSize(6), designed);
    }

    void tooltipShowsTheWholeText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("tooltip");
        QTest::newRow("cut off by the column") << kPlace << kPlace;
        QTest::newRow("markup shown as text") << "<b>太字</b> & 1 < 2"
                                              << "&lt;b&gt;太字&lt;/b&gt; &amp; 1 &lt; 2";
        const QString huge = QStringLiteral("あ").repeated(100000);
        QTest::newRow("a huge text by its beginning")
            << huge << QString(huge.left(screens::TextBox::EditableLength) + u'…');
        QTest::newRow("an empty cell, none") << ""
                                             << "";
    }
    void tooltipShowsTheWholeText()
    {
        QFETCH(QString, text);
        QFETCH(QString, tooltip);
        const QByteArray utf8 = text.toUtf8();
        Opened<ListScreen> o({book({"1", "本", nullptr, nullptr, nullptr, nullptr, utf8.constData()})});
        QCOMPARE(tooltipAt(o.screen->fg, 0, 6), tooltip);
    }
};

QTEST_MAIN(TestGrid)
#include "test_grid.moc"
