#include "screens/common/datacontrol.h"
#include "screens/edit/editscreen.h"
#include "screens/registration/registrationscreen.h"
#include "support/testsupport.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace testsupport;
using namespace screens;

// The data control shows the current row in the controls bound to it and
// writes their contents back: line edits and combo boxes through their user
// property, labels through the property named.
class TestDataControl : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { closeScreens(); }

    void writesThroughBoundControls()
    {
        AppDir dir;
        dir.insert({book({"1", "old", "author", nullptr, nullptr, "9 文学", nullptr, "中"})});
        screens::DataControl data;
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
        data.setRecordSource(store::RecordSource::wholeTable());
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
        QCOMPARE(
            dir.rows(),
            QList<Book>({book({"1", "old", "author", nullptr, nullptr, "9 文学", nullptr, "中"}),
                         book({nullptr, "新しい本", nullptr, nullptr, nullptr, "手で入力した分類", nullptr, "可"})}));

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

        // Every refresh raises Reposition, also one that opens an empty set.
        QSignalSpy reposition(&data, &screens::DataControl::Reposition);
        data.setRecordSource(store::RecordSource::search(store::Field::Title, QStringLiteral("*none*")));
        data.refresh();
        QCOMPARE(reposition.count(), 1);
        QCOMPARE(data.recordset()->absolutePosition(), -1);
        QCOMPARE(title.text(), QString());
    }

    // The caption is readable in the width each screen gives the control:
    // every position up to 9,999,999 on the edit screen (whichever digit is
    // widest in the font), "新規登録" on the registration screen. Measured
    // with the label's own font against the room inside its frame; the four
    // move buttons are narrow, two at each end, the caption centred between.
    void captionFitsItsRoom_data()
    {
        QTest::addColumn<QString>("screen");
        QTest::addColumn<QStringList>("captions");
        QStringList positions;
        for (char digit = '0'; digit <= '9'; ++digit)
            positions << QString(7, QLatin1Char(digit));
        QTest::newRow("edit, 121 px") << "Main2" << positions;
        QTest::newRow("registration, 185 px") << "Main" << QStringList{"新規登録"};
    }
    void captionFitsItsRoom()
    {
        QFETCH(QString, screen);
        QFETCH(QStringList, captions);
        AppDir dir;
        MessageScript messages;
        app::Navigator navigator;
        QWidget *window = openFromMenu(navigator.menu(), menuChoiceFor(qPrintable(screen)));
        QVERIFY(window);
        auto *data = child<screens::DataControl>(window, "Data1");
        auto *caption = child<QLabel>(data, "caption");
        const QRect room = caption->contentsRect().marginsRemoved(QMargins(1, 0, 1, 0) * caption->margin());
        const QFontMetrics metrics(caption->font());
        for (const QString &text : captions) {
            data->setCaption(text);
            QVERIFY2(metrics.horizontalAdvance(text) <= room.width() && metrics.height() <= room.height(),
                     qPrintable(QStringLiteral("%1: %2 x %3 px in %4 x %5")
                                    .arg(text)
                                    .arg(metrics.horizontalAdvance(text))
                                    .arg(metrics.height())
                                    .arg(room.width())
                                    .arg(room.height())));
        }
        QVERIFY(caption->alignment() & Qt::AlignHCenter);
        QCOMPARE(caption->x(), data->width() - caption->geometry().right() - 1);
        int x = 0;
        for (const char *name : {"first", "previous", "", "next", "last"}) {
            QWidget *part = *name ? child<QToolButton>(data, name) : static_cast<QWidget *>(caption);
            QCOMPARE(part->x(), x);
            QCOMPARE(part->height(), data->height());
            if (*name)
                QVERIFY2(part->width() < part->height(), name);
            x += part->width();
        }
        QCOMPARE(x, data->width());
        if (qEnvironmentVariableIsSet("BUKUREA_SCREENSHOTS")) {
            data->setCaption(captions.last());
            data->grab().save(qEnvironmentVariable("BUKUREA_SCREENSHOTS")
                              + QStringLiteral("/data1_%1.png").arg(screen));
        }
    }
};

QTEST_MAIN(TestDataControl)
#include "test_datacontrol.moc"
