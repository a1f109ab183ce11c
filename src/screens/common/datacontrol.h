#pragma once

#include "store/recordset.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QToolButton;

namespace screens {

class ReadFailures;

// The data control of a screen (`Data1`): it opens a record source of the
// book database and shows its current row in the controls bound to it by
// field name. Its face is a caption centred between narrow first/previous
// and next/last arrow buttons.
//
// A current row that cannot be read (the file is locked by another program,
// or damaged) leaves the bound controls empty, marked "読み込めませんでした"
// where they can show it; the failure is reported once after the handler
// (screens::ReadFailures), and the row may not be written over: what the
// controls hold is not that book.
class DataControl : public QWidget {
    Q_OBJECT
public:
    explicit DataControl(QWidget *parent = nullptr);
    ~DataControl() override;

    void setDatabaseName(const QString &path) { m_databaseName = path; }
    void setRecordSource(const store::RecordSource &source) { m_recordSource = source; }
    const store::RecordSource &recordSource() const { return m_recordSource; }
    void setCaption(const QString &text);
    QString caption() const;

    // Opens the database name and record source: the first row becomes
    // current (none when the set is empty), bound controls show it, and
    // Reposition is raised, also for an empty set. Throws
    // store::Error; the record set open before stays open then (should the
    // failure come after the new set found the file readable, its rows were
    // let go already and are read again when next asked for). The
    // connection is kept from one data control to the next while it is
    // still the file at the path (see connectionTo()).
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
    // controls' contents: a new row all of them, an edited row only those
    // the user changed, so that every other field stays byte for byte as
    // stored. An edited row that could not be read is refused. When the
    // book is no longer in the file as shown (store::RowChangedError),
    // the controls show it as it is now and the error is thrown on.
    void updateRecord();
    // Deletes the current row (store::RecordSet::deleteCurrent), with the
    // same check as updateRecord().
    void deleteRecord();
    // Whether a bound control holds something other than what was shown.
    bool edited() const;
    // Asked before every move of the buttons and keys: false keeps the
    // current row (the user wants to stay on it).
    void setLeaveCheck(std::function<bool()> check) { m_leaveCheck = std::move(check); }
    // Lets the keyboard browse: the four buttons take the focus by Tab, and
    // Ctrl+PageUp / Ctrl+PageDown move to the previous / next row, Alt+Home /
    // Alt+End to the first / last, anywhere in the window. Returns the
    // buttons in their order (|◀ ◀ ▶ ▶|), for the window's focus order.
    QList<QWidget *> enableKeyboard();

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
        QVariant shown; // what the control was given by the last showing
    };
    // Runs a write of the current row; a row found changed is shown anew.
    template <typename F> void writeChecked(F &&write);
    void showCurrentRow();
    // Moves the record set to another row as one operation.
    void step(void (store::RecordSet::*to)());

    QString m_databaseName;
    store::RecordSource m_recordSource;
    std::shared_ptr<store::Connection> m_connection;
    std::unique_ptr<store::RecordSet> m_recordset;
    std::vector<Binding> m_bindings;
    QLabel *m_caption;
    std::vector<QToolButton *> m_buttons;
    ReadFailures *m_failures;
    bool m_unreadable = false;
    std::function<bool()> m_leaveCheck;
};

} // namespace screens
