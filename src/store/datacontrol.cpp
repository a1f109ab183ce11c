#include "store/datacontrol.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace store {

DataControl::DataControl(QWidget *parent) : QWidget(parent), m_caption(new QLabel(this))
{
    auto button = [this](const char *name, const QString &glyph, void (RecordSet::*move)()) {
        auto *b = new QToolButton(this);
        b->setObjectName(QLatin1String(name));
        b->setText(glyph);
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QToolButton::clicked, this, [this, move] {
            if (m_recordset)
                (m_recordset.get()->*move)();
        });
        m_buttons.push_back(b);
    };
    button("first", QStringLiteral("|◀"), &RecordSet::moveFirst);
    button("previous", QStringLiteral("◀"), &RecordSet::movePrevious);
    m_caption->setObjectName(QStringLiteral("caption"));
    m_caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_caption->setFrameShape(QFrame::Panel);
    m_caption->setFrameShadow(QFrame::Sunken);
    m_caption->setIndent(4);
    button("next", QStringLiteral("▶"), &RecordSet::moveNext);
    button("last", QStringLiteral("▶|"), &RecordSet::moveLast);
}

DataControl::~DataControl() = default;

void DataControl::resizeEvent(QResizeEvent *)
{
    // Two square buttons at each end, the caption between them.
    const int h = height(), w = std::min(h, width() / 5);
    for (int i = 0; i < 4; ++i)
        m_buttons[i]->setGeometry(i < 2 ? i * w : width() - (4 - i) * w, 0, w, h);
    m_caption->setGeometry(2 * w, 0, width() - 4 * w, h);
}

void DataControl::setCaption(const QString &text) { m_caption->setText(text); }
QString DataControl::caption() const { return m_caption->text(); }

void DataControl::refresh()
{
    if (!m_connection || m_connection->path() != m_databaseName)
        m_connection = Connection::open(m_databaseName);
    auto fresh = std::make_unique<RecordSet>(m_connection, m_recordSource);
    fresh->setBoundValues([this] { return boundValues(); });
    connect(fresh.get(), &RecordSet::repositioned, this, [this] {
        showCurrentRow();
        emit Reposition();
    });
    connect(fresh.get(), &RecordSet::pendingChanged, this, &DataControl::showCurrentRow);
    m_recordset = std::move(fresh);
    emit recordsetChanged();
    showCurrentRow();
    if (m_recordset->hasCurrent())
        emit Reposition();
}

void DataControl::bind(QWidget *control, const QString &field)
{
    m_bindings.emplace_back(control, field);
}

void DataControl::showCurrentRow()
{
    const bool adding = m_recordset && m_recordset->editMode() == RecordSet::EditMode::Adding;
    for (const auto &[control, field] : m_bindings) {
        const QString text = (m_recordset && !adding) ? m_recordset->fieldText(field) : QString();
        if (auto *edit = qobject_cast<QLineEdit *>(control))
            edit->setText(text);
        else if (auto *combo = qobject_cast<QComboBox *>(control))
            combo->setEditText(text);
        else if (auto *label = qobject_cast<QLabel *>(control))
            label->setText(text);
    }
}

QHash<QString, QString> DataControl::boundValues() const
{
    QHash<QString, QString> values;
    for (const auto &[control, field] : m_bindings) {
        if (auto *edit = qobject_cast<QLineEdit *>(control))
            values.insert(field, edit->text());
        else if (auto *combo = qobject_cast<QComboBox *>(control))
            values.insert(field, combo->currentText());
        else if (auto *label = qobject_cast<QLabel *>(control))
            values.insert(field, label->text());
    }
    return values;
}

} // namespace store
