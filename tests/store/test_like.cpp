#include "store/like.h"
#include "store/statement.h"
#include "store/error.h"

#include <QTest>

// The pattern language of the book store's LIKE, and the statements the
// screens hand to a data control.
class TestLike : public QObject {
    Q_OBJECT
private slots:
    void matches_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("expected");
        const auto row = [](const char *name, const char *p, const char *t, bool e) {
            QTest::newRow(name) << QString::fromUtf8(p) << QString::fromUtf8(t) << e;
        };
        row("substring", "*の*", "吾輩は猫である の話", true);
        row("substring absent", "*犬*", "吾輩は猫である", false);
        row("empty keyword matches any value", "**", "", true);
        row("star matches empty run", "a*b", "ab", true);
        row("anchored start", "a*", "ba", false);
        row("question mark one char", "?本", "日本", true);
        row("question mark not zero chars", "?本", "本", false);
        row("question mark one kanji", "*猫?*", "猫x", true);
        row("hash digit", "*#*", "第3巻", true);
        row("hash not letter", "#", "a", false);
        row("hash full-width digit", "*#*", "第３巻", true);
        row("class", "[abc]x", "bx", true);
        row("class miss", "[abc]x", "dx", false);
        row("range", "*[0-4]", "1993", true);
        row("range miss", "*[5-9]", "1993", false);
        row("negated class", "[!abc]", "d", true);
        row("negated class miss", "[!abc]", "a", false);
        row("bracket literal star", "*[*]*", "a*b", true);
        row("unclosed bracket literal", "*[*", "配列[0", true);
        row("unclosed bracket missing", "*[*", "配列0", false);
        row("case ignored", "*ABC*", "xabcx", true);
        row("full width equals half width", "*２０２０*", "2020年", true);
        row("half width equals full width", "*abc*", "ＡＢＣ", true);
        row("full width case", "*ａｂｃ*", "ABC", true);
        row("half-width kana", "*ｶﾞｲﾄﾞ*", "旅行ガイド", true);
        row("full-width kana to half-width", "*パン*", "ﾊﾟﾝ屋", true);
        row("ideographic space", "*a　b*", "a b", true);
        row("hiragana is not katakana", "*ねこ*", "ネコ", false);
        row("apostrophe", "*O'Brien*", "Flann O'Brien", true);
        row("greek case", "*σ*", "Σ", true);
        row("surrogate pair is one char", "?", "𠀋", true);
        row("star backtracking", "*ab*ab", "abxabyab", true);
        row("star backtracking miss", "*ab*abz", "abxabyab", false);
    }
    void matches()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, text);
        QFETCH(bool, expected);
        QCOMPARE(store::LikePattern(pattern).matches(text), expected);
    }

    void statements_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("order");
        QTest::addColumn<bool>("desc");
        const auto row = [](const char *s, const char *f, const char *p, const char *o, bool d) {
            QTest::newRow(s) << QString::fromUtf8(s) << QString::fromUtf8(f) << QString::fromUtf8(p)
                             << QString::fromUtf8(o) << d;
        };
        row("tabel", "", "", "", false);
        row("select * from tabel;", "", "", "", false);
        row("select * from tabel where 書名 like '*猫*';", "書名", "*猫*", "", false);
        row("select * from tabel where 著者名 like '*O''Brien*';", "著者名", "*O'Brien*", "", false);
        row("select * from tabel where 書名 like '**';", "書名", "**", "", false);
        row("select * from tabel where 書名 like '*''*';", "書名", "*'*", "", false);
        row("select * from tabel order by 蔵書番号 asc;", "", "", "蔵書番号", false);
        row("select * from tabel order by 出版年 desc;", "", "", "出版年", true);
        row("SELECT * FROM TABEL WHERE [書名] LIKE 'a' ORDER BY 出版年", "書名", "a", "出版年", false);
        row("  select  *  from  tabel  where 貸出 like '*可*'  ;  ", "貸出", "*可*", "", false);
    }
    void statements()
    {
        QFETCH(QString, source);
        const store::Statement st = store::parseRecordSource(source);
        QTEST(st.filterField, "filter");
        QTEST(st.pattern, "pattern");
        QTEST(st.orderField, "order");
        QTEST(st.descending, "desc");
    }

    void rejected_data()
    {
        QTest::addColumn<QString>("source");
        for (const char *s : {"", "tabel2", "select 書名 from tabel;", "select * from other;",
                              "select * from tabel where 書名 like '*O'Brien*';",
                              "select * from tabel where 書名 = 'a';", "select * from tabel; drop table tabel;",
                              "select * from tabel order by 出版年 sideways;", "select * from tabel where 書名 like 'x"})
            QTest::newRow(s) << QString::fromUtf8(s);
    }
    void rejected()
    {
        QFETCH(QString, source);
        QVERIFY_THROWS_EXCEPTION(store::Error, store::parseRecordSource(source));
    }

    void quoting()
    {
        const QString keyword = QStringLiteral("O'Brien's *");
        const QString source = QStringLiteral("select * from tabel where 著者名 like '*") + store::quoteText(keyword)
                               + QStringLiteral("*';");
        QCOMPARE(store::parseRecordSource(source).pattern, QStringLiteral("*") + keyword + QStringLiteral("*"));
    }
};

QTEST_APPLESS_MAIN(TestLike)
#include "test_like.moc"
