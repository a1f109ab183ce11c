#pragma once

#include "store/recordset.h"

#include <QPointer>
#include <QWidget>
#include <memory>
#include <vector>

class QLabel;
class QToolButton;

namespace common {

class ReadFailures;

// The data control of a screen (`Data1`): it opens a record source of the
// book database and shows its current row in the controls bound to it by
// field name. Its face is a caption centred between narrow first/previous
// and next/last arrow buttons.
//
// A current row that cannot be read (the file is locked by another program,
// or damaged) leaves the bound controls empty, marked "読み込めませんでした"
// where they can show it; the failure is reported once after the handler
// (common::ReadFailures), and the row may not be written over: what the
// controls hold is not that book.
class DataControl : public QWidget {
    Q_OBJECT
public:
    explicit DataControl(QWidget *parent = nullptr);
    ~DataControl() override;

    void setDatabaseName(const QString &path) { m_databaseName = path; }
    void setRecordSource(const QString &source) { m_recordSource = source; }
    const QString &recordSource() const { return m_recordSource; }
    void setCaption(const QString &text);
    QString caption() const;

    // Opens the database name and record source: the first row becomes
    // current (none when the set is empty), bound controls show it, and
    // Reposition is raised, also for an empty set. Throws
    // store::Error; the record set open before stays open then.
    void refresh();
    // The open record set; null before the first successful refresh.
    store::RecordSet *recordset() const { return m_recordset.get(); }

    // Binds a control to a field through one of its properties: by default
    // the control's user property (the text of a line edit, the current
    // text of an editable combo box), else the property named (a label's
    // "text").
    void bind(QWidget *control, const QString &field, const char *property = nullptr);

    // Throws store::Error saying why `what` (a write or a deletion) is
    // refused when the current row could not be read.
    void requireCurrentRowShown(const QString &what) const;

    // Writes the pending row (store::RecordSet::update) with the bound
    // controls' contents. An edited row that could not be read is refused.
    void updateRecord();

signals:
    // Another row became current, or a refresh opened a new set (whose
    // current row may be none).
    void Reposition();
    // A new record set was opened by refresh().
    void recordsetChanged();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Binding {
        QPointer<QWidget> control;
        QString field;
        QByteArray property;
    };
    void showCurrentRow();
    // Moves the record set to another row as one operation.
    void step(void (store::RecordSet::*to)());

    QString m_databaseName;
    QString m_recordSource;
    std::shared_ptr<store::Connection> m_connection;
    std::unique_ptr<store::RecordSet> m_recordset;
    std::vector<Binding> m_bindings;
    QLabel *m_caption;
    std::vector<QToolButton *> m_buttons;
    ReadFailures *m_failures;
    bool m_unreadable = false;
};

} // namespace common
