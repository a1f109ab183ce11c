#include "screens/common/datacontrol.h"

#include "screens/common/storefeedback.h"
#include "store/connection.h"

#include <QLabel>
#include <QMetaProperty>
#include <QToolButton>

namespace common {

DataControl::DataControl(QWidget *parent)
    : QWidget(parent), m_caption(new QLabel(this)), m_failures(new ReadFailures(this))
{
    auto button = [this](const char *name, const QString &glyph, void (store::RecordSet::*move)()) {
        auto *b = new QToolButton(this);
        b->setObjectName(QLatin1String(name));
        b->setText(glyph);
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QToolButton::clicked, this, [this, move] { this->move(move); });
        m_buttons.push_back(b);
    };
    button("first", QStringLiteral("|◀"), &store::RecordSet::moveFirst);
    button("previous", QStringLiteral("◀"), &store::RecordSet::movePrevious);
    m_caption->setObjectName(QStringLiteral("caption"));
    m_caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_caption->setFrameShape(QFrame::Panel);
    m_caption->setFrameShadow(QFrame::Sunken);
    m_caption->setIndent(4);
    button("next", QStringLiteral("▶"), &store::RecordSet::moveNext);
    button("last", QStringLiteral("▶|"), &store::RecordSet::moveLast);
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

void DataControl::move(void (store::RecordSet::*to)())
{
    if (!m_recordset)
        return;
    // One operation: the new row is read (and a locked file waited for)
    // once; a failure is reported by the row's display.
    store::BusyWait operation(m_failures->allowance());
    (m_recordset.get()->*to)();
}

void DataControl::setCaption(const QString &text) { m_caption->setText(text); }
QString DataControl::caption() const { return m_caption->text(); }

void DataControl::refresh()
{
    if (!m_connection || m_connection->path() != m_databaseName)
        m_connection = store::Connection::open(m_databaseName);
    auto fresh = std::make_unique<store::RecordSet>(m_connection, m_recordSource);
    connect(fresh.get(), &store::RecordSet::repositioned, this, [this] {
        showCurrentRow();
        emit Reposition();
    });
    connect(fresh.get(), &store::RecordSet::pendingChanged, this, &DataControl::showCurrentRow);
    m_recordset = std::move(fresh);
    emit recordsetChanged();
    showCurrentRow();
    if (m_recordset->hasCurrent())
        emit Reposition();
}

void DataControl::bind(QWidget *control, const QString &field, const char *property)
{
    const QByteArray name = property ? QByteArray(property) : QByteArray(control->metaObject()->userProperty().name());
    if (name.isEmpty())
        qFatal("DataControl::bind: %s has no user property; name the property to bind", control->metaObject()->className());
    m_bindings.push_back({control, field, name});
}

void DataControl::requireCurrentRowShown(const QString &what) const
{
    if (!m_unreadable)
        return;
    throw store::Error(QStringLiteral("%1\nこのデータは読み込めなかったため、画面の内容はこのデータではありません。"
                                      "ほかのデータに移ってから戻ると、もう一度読み込みます。\n\n%2")
                           .arg(what, m_failures->standingMessage()));
}

void DataControl::updateRecord()
{
    if (m_recordset && m_recordset->editMode() == store::RecordSet::EditMode::Editing)
        requireCurrentRowShown(QStringLiteral("データを修正しません。"));
    QHash<QString, QString> values;
    for (const Binding &b : m_bindings) {
        if (b.control)
            values.insert(b.field, b.control->property(b.property.constData()).toString());
    }
    m_recordset->update(values);
}

void DataControl::showCurrentRow()
{
    const bool adding = m_recordset && m_recordset->editMode() == store::RecordSet::EditMode::Adding;
    QHash<QString, QString> values;
    m_unreadable = false;
    if (m_recordset && !adding && m_recordset->hasCurrent()) {
        store::BusyWait operation(m_failures->allowance());
        try {
            for (const Binding &b : m_bindings)
                values.insert(b.field, m_recordset->fieldText(b.field));
            m_failures->succeeded();
        } catch (const store::Error &e) {
            values.clear();
            m_unreadable = true;
            m_failures->failed(e);
        }
    }
    const QString mark = m_unreadable ? QStringLiteral("（読み込めませんでした）") : QString();
    for (const Binding &b : m_bindings) {
        if (!b.control)
            continue;
        b.control->setProperty(b.property.constData(), values.value(b.field));
        // Boxes show the mark in place of the missing text.
        if (b.control->metaObject()->indexOfProperty("placeholderText") >= 0)
            b.control->setProperty("placeholderText", mark);
    }
}

} // namespace common
