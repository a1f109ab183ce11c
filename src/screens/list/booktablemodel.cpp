#include "screens/list/booktablemodel.h"

#include "screens/common/datacontrol.h"
#include "screens/common/storefeedback.h"
#include "store/error.h"
#include "store/recordset.h"

#include <QBrush>
#include <QColor>

namespace screens {

BookTableModel::BookTableModel(screens::DataControl *data, QObject *parent)
    : QAbstractTableModel(parent), m_data(data), m_failures(new screens::ReadFailures(data))
{
    // The data control has already replaced its record set when it tells us;
    // nothing reads the model in between, so a plain reset is enough.
    connect(m_data, &screens::DataControl::recordsetChanged, this, [this] {
        beginResetModel();
        m_unread.clear();
        endResetModel();
    });
}

std::chrono::milliseconds BookTableModel::readAllowance() const { return m_failures->allowance(); }

store::RecordSet *BookTableModel::recordset() const { return m_data ? m_data->recordset() : nullptr; }

int BookTableModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    const store::RecordSet *rs = recordset();
    if (!rs)
        return 0;
    // The table in its own order is counted when first asked, which the
    // view does while the model resets: a count that cannot be read shows
    // no rows here, and the screen's own reading of it reports why.
    try {
        return rs->recordCount();
    } catch (const store::Error &) {
        return 0;
    }
}

int BookTableModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : store::FieldCount; }

QVariant BookTableModel::data(const QModelIndex &index, int role) const
{
    const store::RecordSet *rs = recordset();
    if (!rs || !index.isValid())
        return {};
    const int row = index.row();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::TextAlignmentRole: break;
    case Qt::BackgroundRole:
        return m_unread.contains(row) ? QVariant(QBrush(QColor(160, 160, 160), Qt::BDiagPattern)) : QVariant();
    case Qt::ToolTipRole: return m_unread.contains(row) ? QVariant(m_failures->standingMessage()) : QVariant();
    default: return {};
    }
    // Cells are read while the grid paints, where a failure cannot stop for
    // a message: the row shows empty and marked, and the failure is told
    // after the paint.
    const QVariant *value = nullptr;
    try {
        value = &rs->row(row)[index.column()];
        // A row that failed before reads now: the cause is gone.
        if (m_unread.remove(row))
            m_failures->succeeded();
    } catch (const store::Error &e) {
        m_unread.insert(row);
        m_failures->failed(e);
        return {};
    }
    switch (role) {
    case Qt::TextAlignmentRole: {
        // Like a grid's general alignment: numbers right, text left.
        const bool number = value->typeId() == QMetaType::LongLong || value->typeId() == QMetaType::Double;
        return int(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
    }
    case Qt::DisplayRole: {
        const QString text = value->isNull() ? QString() : value->toString();
        return text.size() > DisplayLength ? text.left(DisplayLength) + u'…' : text;
    }
    default: return value->isNull() ? QString() : value->toString();
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
