#include "screens/list/grid.h"

#include "screens/common/ui.h"
#include "screens/list/booktablemodel.h"
#include "store/connection.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QToolTip>

#include <algorithm>

namespace screens {

namespace {

// One row height for every row: 16 pixels, room for one line of 9 pt text.
constexpr int RowHeightTwips = 240;

// Merges [first, last] intervals into sorted, disjoint ones.
std::vector<std::pair<int, int>> merged(std::vector<std::pair<int, int>> spans)
{
    std::sort(spans.begin(), spans.end());
    std::vector<std::pair<int, int>> out;
    for (const auto &s : spans) {
        if (!out.empty() && s.first <= out.back().second + 1)
            out.back().second = std::max(out.back().second, s.second);
        else
            out.push_back(s);
    }
    return out;
}

// A cell's text as one spreadsheet cell: no tab or line break inside.
QString cellText(QString text)
{
    for (QChar &c : text) {
        if (c == u'\t' || c == u'\r' || c == u'\n')
            c = u' ';
    }
    return text;
}

} // namespace

Grid::Grid(QWidget *parent) : QTableView(parent)
{
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setWordWrap(false);
    // Tab leaves the grid for the next control instead of moving between cells.
    setTabKeyNavigation(false);
    setFont(screens::font(9));

    // Every row has the same fixed height: the view then never measures rows,
    // which keeps scrolling through a large collection cheap.
    const int rowHeight = screens::toPixels(RowHeightTwips);
    QHeaderView *rows = verticalHeader();
    rows->setMinimumSectionSize(rowHeight);
    rows->setDefaultSectionSize(rowHeight);
    rows->setSectionResizeMode(QHeaderView::Fixed);

    // The screen sets the columns' widths; the user may widen or narrow a
    // column by dragging its heading's edge, and the width chosen stays
    // through later searches and sorts.
    QHeaderView *columns = horizontalHeader();
    columns->setSectionResizeMode(QHeaderView::Interactive);
    connect(columns, &QHeaderView::sectionResized, this, [this](int section, int, int size) {
        if (!m_applyingWidths)
            m_userWidths[section + 1] = size;
    });
    columns->setStretchLastSection(false);
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns->setHighlightSections(false);
    columns->setMinimumSectionSize(1);
    rows->setHighlightSections(false);
}

void Grid::setModel(QAbstractItemModel *model)
{
    if (QAbstractItemModel *old = this->model())
        disconnect(old, &QAbstractItemModel::modelReset, this, &Grid::applyColWidths);
    QTableView::setModel(model);
    // Connected after the headers' own handling of the reset, which puts
    // every section back to the default size.
    if (model)
        connect(model, &QAbstractItemModel::modelReset, this, &Grid::applyColWidths);
    applyColWidths();
}

void Grid::setColWidth(int column, int twips)
{
    m_colWidths[column] = twips;
    m_userWidths.erase(column);
    applyColWidth(column, screens::toPixels(twips));
}

void Grid::applyColWidth(int column, int px)
{
    m_applyingWidths = true;
    if (column == 0)
        verticalHeader()->setFixedWidth(px);
    else
        horizontalHeader()->resizeSection(column - 1, px);
    m_applyingWidths = false;
}

void Grid::applyColWidths()
{
    for (const auto &[column, twips] : m_colWidths) {
        const auto user = m_userWidths.find(column);
        applyColWidth(column, user != m_userWidths.end() ? user->second : screens::toPixels(twips));
    }
}

bool Grid::viewportEvent(QEvent *event)
{
    // A cell's whole text as its tooltip, for text cut off at the column's
    // edge (or at the length the grid shows). A very long text is shown by its beginning, as a text box shows
    // it: laying out millions of characters would freeze the window.
    if (event->type() == QEvent::ToolTip && model()) {
        const auto *help = static_cast<QHelpEvent *>(event);
        const QModelIndex index = indexAt(help->pos());
        // A row that could not be read says so in the model's own tooltip.
        QString text = index.isValid() ? index.data(Qt::ToolTipRole).toString() : QString();
        if (text.isEmpty() && index.isValid())
            text = index.data(Qt::EditRole).toString();
        if (text.size() > screens::TextBox::EditableLength)
            text = text.left(screens::TextBox::EditableLength) + u'…';
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text.toHtmlEscaped().replace(u'\n', QStringLiteral("<br>")),
                               viewport(), visualRect(index));
        return true;
    }
    return QTableView::viewportEvent(event);
}

QString Grid::selectedText() const
{
    const QItemSelectionModel *selection = selectionModel();
    if (!selection || !model())
        return {};
    const QItemSelection ranges = selection->selection();
    if (ranges.isEmpty())
        return {};
    // The rows and columns touched by any selected range, in grid order; a
    // cell inside them that is not selected copies as an empty cell, so the
    // pasted cells keep their places.
    std::vector<std::pair<int, int>> rowSpans, columnSpans;
    for (const QItemSelectionRange &r : ranges) {
        rowSpans.emplace_back(r.top(), r.bottom());
        columnSpans.emplace_back(r.left(), r.right());
    }
    rowSpans = merged(std::move(rowSpans));
    columnSpans = merged(std::move(columnSpans));
    auto selected = [&ranges](int row, int column) {
        if (ranges.size() == 1)
            return true; // one rectangle: every cell of the spans
        for (const QItemSelectionRange &r : ranges) {
            if (row >= r.top() && row <= r.bottom() && column >= r.left() && column <= r.right())
                return true;
        }
        return false;
    };

    QStringList lines;
    for (const auto &[top, bottom] : rowSpans) {
        for (int row = top; row <= bottom; ++row) {
            QStringList cells;
            for (const auto &[left, right] : columnSpans) {
                for (int column = left; column <= right; ++column)
                    cells << (selected(row, column)
                                  ? cellText(model()->index(row, column).data(Qt::EditRole).toString())
                                  : QString());
            }
            lines << cells.join(u'\t');
        }
    }
    return lines.join(u'\n');
}

void Grid::copySelection() const
{
    const QString text = selectedText();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

void Grid::paintEvent(QPaintEvent *event)
{
    // One paint is one operation of the store: a file locked by another
    // program is waited for once, however many rows the paint reads, and
    // not at all while an earlier failure stands.
    const auto *books = qobject_cast<const BookTableModel *>(model());
    store::BusyWait operation(books ? books->readAllowance() : store::BusyWait::limit());
    QTableView::paintEvent(event);
}

void Grid::keyPressEvent(QKeyEvent *event)
{
    // The view's own copy takes the current cell only.
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void Grid::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    QAction *copy = menu.addAction(QStringLiteral("コピー(&C)"), this, &Grid::copySelection);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(selectionModel() && selectionModel()->hasSelection());
    menu.exec(event->globalPos());
}

} // namespace screens
