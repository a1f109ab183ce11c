#pragma once

#include <QAbstractTableModel>
#include <QPointer>

namespace common {
class DataControl;
}
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
class BookTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit BookTableModel(common::DataControl *data, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    store::RecordSet *recordset() const;

    QPointer<common::DataControl> m_data; // gone first when the screen closes
};

} // namespace screens
