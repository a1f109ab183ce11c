#pragma once

#include <QTableView>
#include <map>

namespace screens {

// The list's grid: a read-only table view whose row headers form an empty
// fixed column and whose column headers form the heading row.
//
// Grid columns are counted with the fixed column: column 0 is the fixed column,
// columns 1 to 9 show the model's columns 0 to 8. Widths are given in twips
// and kept by the grid, so they hold after every reset of the model (each
// search and sort opens a new record set).
//
// The user may resize the columns by their headings; a width the user set
// holds until the screen sets the column's width again (its reset). Resting
// the mouse on a cell shows its whole text.
//
// Ctrl+C (and the context menu) copies the selected cells as text for a
// spreadsheet: cells separated by tabs, rows by line breaks.
class Grid : public QTableView {
    Q_OBJECT
public:
    explicit Grid(QWidget *parent = nullptr);

    void setModel(QAbstractItemModel *model) override;

    void setColWidth(int column, int twips);

    // The selected cells as tab-separated rows; empty without a selection.
    QString selectedText() const;
    void copySelection() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    void applyColWidth(int column, int px);
    void applyColWidths();

    std::map<int, int> m_colWidths;  // grid column -> twips, as the screen set them
    std::map<int, int> m_userWidths; // grid column -> pixels, as the user dragged them
    bool m_applyingWidths = false;
};

} // namespace screens
