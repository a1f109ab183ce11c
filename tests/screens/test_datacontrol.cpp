#include "screens/common/datacontrol.h"
#include "support/testsupport.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

using namespace testsupport;
using namespace screens;

// The data control shows the current row in the controls bound to it and
// writes their contents back: line edits and combo boxes through their user
// property, labels through the property named.
class TestDataControl : public QObject {
    Q_OBJECT
private slots:
    void writesThroughBoundControls()
    {
        AppDir dir;
        dir.insert({book({"1", "old", "author", nullptr, nullptr, "9 文学", nullptr, "中"})});
        common::DataControl data;
        QLineEdit title, number;
        QComboBox category;
        category.setEditable(true);
        category.addItems({QStringLiteral("0 年鑑・百科事典・図書館"), QStringLiteral("9 文学")});
        QLabel lending;
        data.bind(&title, QStringLiteral("書名"));
        data.bind(&number, QStringLiteral("蔵書番号"));
        data.bind(&category, QStringLiteral("分類"));
        data.bind(&lending, QStringLiteral("貸出"), "text");
        data.setDatabaseName(dir.dbPath());
        data.setRecordSource(QStringLiteral("tabel"));
        data.refresh();
        QCOMPARE(title.text(), QStringLiteral("old"));
        QCOMPARE(category.currentText(), QStringLiteral("9 文学"));
        QCOMPARE(lending.text(), QStringLiteral("中"));

        // A new row: bound controls empty, written with their contents, empty as NULL.
        data.recordset()->addNew();
        QCOMPARE(title.text(), QString());
        QCOMPARE(category.currentText(), QString());
        QCOMPARE(lending.text(), QString());
        title.setText(QStringLiteral("新しい本"));
        category.setEditText(QStringLiteral("手で入力した分類"));
        lending.setText(QStringLiteral("可"));
        data.updateRecord();
        QCOMPARE(dir.rows(), QList<Book>({book({"1", "old", "author", nullptr, nullptr, "9 文学", nullptr, "中"}),
                                          book({nullptr, "新しい本", nullptr, nullptr, nullptr, "手で入力した分類",
                                                nullptr, "可"})}));

        // An edit writes only the bound fields; other fields keep their values.
        data.recordset()->moveFirst();
        data.recordset()->edit();
        title.setText(QStringLiteral("new"));
        number.setText(QString());
        data.updateRecord();
        QCOMPARE(dir.rows().first(), book({nullptr, "new", "author", nullptr, nullptr, "9 文学", nullptr, "中"}));

        // Edits that are not written are dropped by a move or a cancel.
        title.setText(QStringLiteral("not written"));
        data.recordset()->moveLast();
        data.recordset()->moveFirst();
        QCOMPARE(title.text(), QStringLiteral("new"));
        data.recordset()->edit();
        title.setText(QStringLiteral("not written"));
        data.recordset()->cancelUpdate();
        QCOMPARE(dir.rows().first(), book({nullptr, "new", "author", nullptr, nullptr, "9 文学", nullptr, "中"}));

        data.recordset()->deleteCurrent();
        QVERIFY(!data.recordset()->hasCurrent());
        QCOMPARE(dir.count(), 1);
    }
};

QTEST_MAIN(TestDataControl)
#include "test_datacontrol.moc"
