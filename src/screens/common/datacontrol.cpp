#include "screens/common/datacontrol.h"

#include "screens/common/storefeedback.h"
#include "store/connection.h"

#include <QLabel>
#include <QMetaProperty>
#include <QPainter>
#include <QShortcut>
#include <QToolButton>

namespace screens {

namespace {

// The connection of the data screen before, kept for the next one while
// the file at the path is still the one it opened: what it knows stays good
// as long as nobody else writes to the file (the engine's data version
// tells), above all the number of books, which each screen would otherwise
// count again by reading the whole table.
std::shared_ptr<store::Connection> connectionTo(const QString &path)
{
    static std::shared_ptr<store::Connection> kept;
    if (!kept || kept->path() != path || kept->replaced())
        kept = store::Connection::open(path);
    return kept;
}

} // namespace

namespace {

// A move button: a narrow button showing an arrow, with a bar beside it for
// the first and the last row (|◀ ◀ ▶ ▶|). The arrow is drawn, not a
// character, so that it stays crisp and small whatever the font.
class MoveButton : public QToolButton {
public:
    enum class Arrow { First, Previous, Next, Last };
    MoveButton(Arrow arrow, QWidget *parent) : QToolButton(parent), m_arrow(arrow) {}

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QToolButton::paintEvent(event); // the button's face, without text
        QPainter p(this);
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
        // An odd height keeps the tip on a pixel row; the arrow is as wide as
        // half its height, the bar one pixel with a pixel of space.
        const int tall = std::max(5, height() / 3) | 1, wide = tall / 2 + 1;
        const bool bar = m_arrow == Arrow::First || m_arrow == Arrow::Last;
        const bool left = m_arrow == Arrow::First || m_arrow == Arrow::Previous;
        const int glyph = wide + (bar ? 2 : 0), shift = isDown() ? 1 : 0;
        const int x0 = (width() - glyph) / 2 + shift, mid = height() / 2 + shift;
        if (bar)
            p.drawLine(left ? x0 : x0 + glyph - 1, mid - tall / 2, left ? x0 : x0 + glyph - 1, mid + tall / 2);
        const int ax = x0 + (bar && left ? 2 : 0);
        for (int k = 0; k < wide; ++k) { // column k of the arrow, from its tip
            const int x = left ? ax + k : ax + wide - 1 - k;
            p.drawLine(x, mid - k, x, mid + k);
        }
    }

private:
    Arrow m_arrow;
};

} // namespace

DataControl::DataControl(QWidget *parent)
    : QWidget(parent), m_caption(new QLabel(this)), m_failures(new ReadFailures(this))
{
    using Arrow = MoveButton::Arrow;
    auto button = [this](const char *name, Arrow arrow, void (store::RecordSet::*move)()) {
        auto *b = new MoveButton(arrow, this);
        b->setObjectName(QLatin1String(name));
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QToolButton::clicked, this, [this, move] { step(move); });
        m_buttons.push_back(b);
    };
    button("first", Arrow::First, &store::RecordSet::moveFirst);
    button("previous", Arrow::Previous, &store::RecordSet::movePrevious);
    m_caption->setObjectName(QStringLiteral("caption"));
    m_caption->setAlignment(Qt::AlignCenter);
    m_caption->setFrameShape(QFrame::Panel);
    m_caption->setFrameShadow(QFrame::Sunken);
    m_caption->setTextFormat(Qt::PlainText);
    button("next", Arrow::Next, &store::RecordSet::moveNext);
    button("last", Arrow::Last, &store::RecordSet::moveLast);
}

DataControl::~DataControl() = default;

void DataControl::resizeEvent(QResizeEvent *)
{
    // Two narrow buttons at each end, about half as wide as they are high
    // (never more than an eighth of the control each), the caption between
    // them: the room for the position is what the buttons leave.
    const int h = height(), w = std::min(std::max(12, (h + 1) / 2), width() / 8);
    for (int i = 0; i < 4; ++i)
        m_buttons[i]->setGeometry(i < 2 ? i * w : width() - (4 - i) * w, 0, w, h);
    m_caption->setGeometry(2 * w, 0, width() - 4 * w, h);
}

void DataControl::step(void (store::RecordSet::*to)())
{
    if (!m_recordset)
        return;
    if (m_leaveCheck && !m_leaveCheck())
        return;
    // One operation: the new row is read (and a locked file waited for)
    // once; a failure is reported by the row's display. A move that has to
    // read to find the next book (the table in its own order) and cannot
    // stays where it was, and says why.
    store::BusyWait operation(m_failures->allowance());
    try {
        (m_recordset.get()->*to)();
    } catch (const store::Error &e) {
        m_failures->failed(e);
    }
}

void DataControl::setCaption(const QString &text) { m_caption->setText(text); }
QString DataControl::caption() const { return m_caption->text(); }

void DataControl::refresh()
{
    // A file put in place of the one open (renamed over it, restored from a
    // backup) is opened afresh: every record source reads what lies at the
    // path now.
    if (!m_connection || m_connection->path() != m_databaseName || m_connection->replaced())
        m_connection = connectionTo(m_databaseName);
    // Once the new set has found the file readable, the rows of the set
    // shown so far are let go before the new ones are listed: a search or a
    // sort of a large collection never holds both lists. A file that cannot
    // be read leaves the set shown so far as it was.
    auto fresh = std::make_unique<store::RecordSet>(m_connection, m_recordSource, [this] {
        if (m_recordset)
            m_recordset->releaseRows();
    });
    connect(fresh.get(), &store::RecordSet::repositioned, this, [this] {
        showCurrentRow();
        emit Reposition();
    });
    connect(fresh.get(), &store::RecordSet::pendingChanged, this, &DataControl::showCurrentRow);
    m_recordset = std::move(fresh);
    emit recordsetChanged();
    showCurrentRow();
    // Raised on every refresh, also when the new set is empty: the screen
    // then shows the position of no row.
    emit Reposition();
}

void DataControl::bind(QWidget *control, const QString &field, const char *property)
{
    const QByteArray name = property ? QByteArray(property) : QByteArray(control->metaObject()->userProperty().name());
    if (name.isEmpty())
        qFatal("DataControl::bind: %s has no user property; name the property to bind",
               control->metaObject()->className());
    m_bindings.push_back({control, field, name, QVariant()});
}

void DataControl::requireCurrentRowShown(const QString &what) const
{
    if (!m_unreadable)
        return;
    throw store::Error(QStringLiteral("%1\nこのデータは読み込めなかったため、画面の内容はこのデータではありません。"
                                      "ほかのデータに移ってから戻ると、もう一度読み込みます。\n\n%2")
                           .arg(what, m_failures->standingMessage()));
}

template <typename F> void DataControl::writeChecked(F &&write)
{
    try {
        write();
    } catch (const store::RowChangedError &) {
        // What the user saw is gone: the book as it is now takes its place
        // before the user is told.
        showCurrentRow();
        throw;
    }
}

void DataControl::updateRecord()
{
    const bool editing = m_recordset && m_recordset->editMode() == store::RecordSet::EditMode::Editing;
    if (editing)
        requireCurrentRowShown(QStringLiteral("データを修正しません。"));
    QHash<QString, QString> values;
    for (const Binding &b : m_bindings) {
        if (!b.control)
            continue;
        const QVariant now = b.control->property(b.property.constData());
        if (!editing || now != b.shown)
            values.insert(b.field, now.toString());
    }
    writeChecked([&] { m_recordset->update(values); });
    // What the controls hold is now what the file holds.
    for (Binding &b : m_bindings) {
        if (b.control)
            b.shown = b.control->property(b.property.constData());
    }
}

void DataControl::deleteRecord()
{
    writeChecked([&] { m_recordset->deleteCurrent(); });
}

bool DataControl::edited() const
{
    if (!m_recordset || !m_recordset->hasCurrent() || m_unreadable)
        return false;
    for (const Binding &b : m_bindings) {
        if (b.control && b.control->property(b.property.constData()) != b.shown)
            return true;
    }
    return false;
}

QList<QWidget *> DataControl::enableKeyboard()
{
    QList<QWidget *> buttons;
    for (QToolButton *b : m_buttons) {
        b->setFocusPolicy(Qt::TabFocus);
        buttons << b;
    }
    const std::pair<QKeySequence, QToolButton *> keys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_PageUp), m_buttons[1]},
        {QKeySequence(Qt::CTRL | Qt::Key_PageDown), m_buttons[2]},
        {QKeySequence(Qt::ALT | Qt::Key_Home), m_buttons[0]},
        {QKeySequence(Qt::ALT | Qt::Key_End), m_buttons[3]},
    };
    for (const auto &[key, button] : keys) {
        auto *shortcut = new QShortcut(key, window());
        connect(shortcut, &QShortcut::activated, button, &QToolButton::click);
    }
    return buttons;
}

void DataControl::showCurrentRow()
{
    const bool adding = m_recordset && m_recordset->editMode() == store::RecordSet::EditMode::Adding;
    QHash<QString, QString> values;
    m_unreadable = false;
    if (m_recordset && !adding && m_recordset->hasCurrent()) {
        store::BusyWait operation(m_failures->allowance());
        try {
            m_recordset->readCurrent();
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
    for (Binding &b : m_bindings) {
        if (!b.control)
            continue;
        b.control->setProperty(b.property.constData(), values.value(b.field));
        b.shown = b.control->property(b.property.constData());
        // Boxes show the mark in place of the missing text.
        if (b.control->metaObject()->indexOfProperty("placeholderText") >= 0)
            b.control->setProperty("placeholderText", mark);
    }
}

} // namespace screens
