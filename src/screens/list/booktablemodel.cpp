#include "screens/list/booktablemodel.h"

#include "store/connection.h"
#include "screens/common/datacontrol.h"
#include "store/error.h"
#include "store/recordset.h"

namespace screens {

BookTableModel::BookTableModel(common::DataControl *data, QObject *parent)
    : QAbstractTableModel(parent), m_data(data)
{
    // The data control has already replaced its record set when it tells us;
    // nothing reads the model in between, so a plain reset is enough.
    connect(m_data, &common::DataControl::recordsetChanged, this, [this] {
        beginResetModel();
        endResetModel();
    });
}

store::RecordSet *BookTableModel::recordset() const { return m_data ? m_data->recordset() : nullptr; }

int BookTableModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    const store::RecordSet *rs = recordset();
    return rs ? rs->recordCount() : 0;
}

int BookTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : store::FieldCount;
}

QVariant BookTableModel::data(const QModelIndex &index, int role) const
{
    const store::RecordSet *rs = recordset();
    if (!rs || !index.isValid())
        return {};
    // Cells are read while the grid paints, where a failure cannot be
    // reported: a row that cannot be read (the file changed under the list)
    // shows empty instead.
    try {
        switch (role) {
        case Qt::DisplayRole:
            return rs->text(index.row(), index.column());
        case Qt::TextAlignmentRole: {
            // Like a grid's general alignment: numbers right, text left.
            const QVariant &v = rs->row(index.row())[index.column()];
            const bool number = v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Double;
            return int(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
        }
        default:
            return {};
        }
    } catch (const store::Error &) {
        return {};
    }
}

QVariant BookTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    // The row headers form the grid's empty fixed column.
    if (orientation == Qt::Vertical)
        return QString();
    return store::fieldNames().value(section);
}

Qt::ItemFlags BookTableModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace screens
