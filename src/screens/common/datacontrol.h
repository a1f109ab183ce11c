#pragma once

#include "store/recordset.h"

#include <QPointer>
#include <QWidget>
#include <memory>
#include <vector>

class QLabel;
class QToolButton;

namespace common {

// The data control of a screen (`Data1`): it opens a record source of the
// book database and shows its current row in the controls bound to it by
// field name. Its face is a caption centred between narrow first/previous
// and next/last arrow buttons.
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

    // Writes the pending row (store::RecordSet::update) with the bound
    // controls' contents.
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

    QString m_databaseName;
    QString m_recordSource;
    std::shared_ptr<store::Connection> m_connection;
    std::unique_ptr<store::RecordSet> m_recordset;
    std::vector<Binding> m_bindings;
    QLabel *m_caption;
    std::vector<QToolButton *> m_buttons;
};

} // namespace common
