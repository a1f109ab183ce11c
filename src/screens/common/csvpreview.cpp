#include "screens/common/csvpreview.h"

#include "export/csvimport.h"
#include "screens/common/centring.h"
#include "screens/common/ui.h"
#include "store/error.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

namespace screens {

ImportPreview::ImportPreview(QWidget *parent, const QString &path, exporting::Encoding detected)
    : QDialog(parent), m_path(path), m_detected(detected)
{
    setObjectName(QStringLiteral("csvPreview"));
    setWindowTitle(QStringLiteral("CSV ファイルから取り込む"));
    setFixedSize(screens::toPixels({0, 0, 11400, 6600}).size());
    auto *file = screens::label(this, "file", path, {120, 120, 11160, 300});
    file->setTextFormat(Qt::PlainText);
    screens::label(this, "encodingLabel", QStringLiteral("文字コード(&C):"), {120, 480, 1500, 330});
    encodingBox = new QComboBox(this);
    encodingBox->setObjectName(QStringLiteral("encoding"));
    encodingBox->setGeometry(screens::toPixels({1680, 450, 3600, 360}));
    for (const exporting::Encoding e : {exporting::Encoding::Utf8, exporting::Encoding::Cp932}) {
        QString name = exporting::encodingName(e);
        if (e == detected)
            name += QStringLiteral("（自動判定）");
        encodingBox->addItem(name, int(e));
    }
    encodingBox->setCurrentIndex(detected == exporting::Encoding::Utf8 ? 0 : 1);
    findChild<QLabel *>(QStringLiteral("encodingLabel"))->setBuddy(encodingBox);

    table = new QTableWidget(this);
    table->setObjectName(QStringLiteral("rows"));
    table->setGeometry(screens::toPixels({120, 960, 11160, 4200}));
    table->setColumnCount(store::FieldCount);
    table->setHorizontalHeaderLabels(store::fieldNames());
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->setDefaultSectionSize(screens::toPixels(300));

    notes = screens::label(this, "notes", QString(), {120, 5220, 11160, 660});
    notes->setTextFormat(Qt::PlainText);
    notes->setWordWrap(true);
    notes->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    importButton = screens::button(this, "import", QStringLiteral("取り込む(&I)"), {8280, 6000, 1440, 420});
    cancelButton = screens::button(this, "cancel", QStringLiteral("キャンセル"), {9840, 6000, 1440, 420});
    connect(importButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(encodingBox, &QComboBox::currentIndexChanged, this, &ImportPreview::showBooks);
    showBooks();
    centreOnScreen(this);
}

exporting::Encoding ImportPreview::encoding() const { return exporting::Encoding(encodingBox->currentData().toInt()); }

void ImportPreview::showBooks()
{
    table->setRowCount(0);
    QStringList lines;
    bool usable = false;
    try {
        const exporting::Preview preview = exporting::preview(m_path, encoding(), ShownBooks);
        table->setRowCount(int(preview.books.size()));
        for (int r = 0; r < preview.books.size(); ++r) {
            for (int f = 0; f < store::FieldCount; ++f)
                table->setItem(r, f, new QTableWidgetItem(preview.books[r][size_t(f)]));
        }
        if (preview.problem) {
            lines << exporting::describe(*preview.problem);
        } else {
            usable = true;
            lines << (preview.layout.heading
                          ? QStringLiteral("1 行目の見出しで項目を合わせます。")
                          : QStringLiteral("見出しの行がないため、先頭の 9 列を項目の順に取り込みます。"));
            if (!preview.layout.ignored.isEmpty())
                lines << QStringLiteral("取り込まない列: ") + preview.layout.ignored.join(QStringLiteral("、"));
            QStringList missing;
            for (int f = 0; f < store::FieldCount; ++f) {
                if (preview.layout.column[size_t(f)] < 0)
                    missing << store::fieldNames()[f];
            }
            if (!missing.isEmpty())
                lines << QStringLiteral("ファイルにない項目（空欄になります）: ") + missing.join(QStringLiteral("、"));
        }
    } catch (const store::Error &e) {
        lines << e.message();
    }
    notes->setText(lines.join(u'\n'));
    importButton->setEnabled(usable);
}

} // namespace screens
