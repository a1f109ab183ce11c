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

private:
    void applyColWidth(int column, int twips);
    void applyColWidths();

    std::map<int, int> m_colWidths; // grid column -> twips
};

} // namespace screens
