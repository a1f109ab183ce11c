#pragma once

#include "export/csvcodec.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace screens {

// The look at a CSV file before it is imported: the encoding (detected,
// and changeable), the first books under the nine fields, the columns left
// out, and 「取り込む」 or 「キャンセル」. Nothing is written here.
class ImportPreview : public QDialog {
    Q_OBJECT
public:
    static constexpr int ShownBooks = 20;

    ImportPreview(QWidget *parent, const QString &path, exporting::Encoding detected);
    exporting::Encoding encoding() const;

    QComboBox *encodingBox;
    QTableWidget *table;
    QLabel *notes;
    QPushButton *importButton;
    QPushButton *cancelButton;

private:
    // Reads the first books again in the chosen encoding.
    void showBooks();

    QString m_path;
    exporting::Encoding m_detected;
};

} // namespace screens
