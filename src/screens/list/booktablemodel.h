#pragma once

#include <QAbstractTableModel>
#include <QPointer>
#include <QSet>
#include <chrono>

namespace screens {
class DataControl;
class ReadFailures;
} // namespace screens
namespace store {
class RecordSet;
}

namespace screens {

// The rows of a data control's open record set as a read-only table: one
// column per field of the book table, in the table's order, headed by the
// field names. It knows the true row count of the record set at once and
// reads every cell from the record set when it is shown, so it holds no
// copy of the data; the record set keeps the recently shown rows in blocks.
// A fresh record set (every refresh of the data control) resets the model.
//
// A row that cannot be read while the grid paints (the file is locked by
// another program, or damaged) shows as empty cells marked with a hatched
// background and the reason as their tooltip; the failure is reported once
// after the paint (screens::ReadFailures), and the row is read again the
// next time it is painted.
//
// The display text of a cell stops after DisplayLength characters, all a
// cell can show; Qt::EditRole gives the whole text (for copying).
class BookTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int DisplayLength = 1000;

    explicit BookTableModel(screens::DataControl *data, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // How long the reads of the next paint may wait for a locked file.
    std::chrono::milliseconds readAllowance() const;

private:
    store::RecordSet *recordset() const;

    QPointer<screens::DataControl> m_data; // gone first when the screen closes
    screens::ReadFailures *m_failures;
    mutable QSet<int> m_unread; // rows that failed at their last reading
};

} // namespace screens
