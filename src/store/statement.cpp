#include "store/statement.h"

#include "store/error.h"

namespace store {

namespace {

// A small hand-written scanner: the dialect is tiny and fixed.
class Parser {
public:
    explicit Parser(const QString &text) : m_text(text) {}

    Statement parse()
    {
        Statement st;
        if (peekWord().compare(tableName(), Qt::CaseInsensitive) == 0) {
            word();
            finish();
            return st;
        }
        expectKeyword(u"select");
        skipSpace();
        if (!take(u'*'))
            fail();
        expectKeyword(u"from");
        if (word().compare(tableName(), Qt::CaseInsensitive) != 0)
            fail();
        if (isKeyword(peekWord(), u"where")) {
            word();
            st.filterField = identifier();
            expectKeyword(u"like");
            st.pattern = quoted();
        }
        if (isKeyword(peekWord(), u"order")) {
            word();
            expectKeyword(u"by");
            st.orderField = identifier();
            const QString dir = peekWord();
            if (isKeyword(dir, u"asc") || isKeyword(dir, u"desc")) {
                word();
                st.descending = isKeyword(dir, u"desc");
            }
        }
        finish();
        return st;
    }

private:
    static bool isKeyword(const QString &w, QStringView kw) { return w.compare(kw, Qt::CaseInsensitive) == 0; }
    static bool isWordChar(QChar c) { return c.isLetterOrNumber() || c == u'_' || c.unicode() >= 0x80; }

    [[noreturn]] void fail() const
    {
        throw Error(QStringLiteral("この検索文は受け付けられません。\n%1").arg(m_text));
    }
    void skipSpace()
    {
        while (m_pos < m_text.size() && m_text[m_pos].isSpace())
            ++m_pos;
    }
    bool take(QChar c)
    {
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }
    QString peekWord()
    {
        const qsizetype saved = m_pos;
        QString w = word();
        m_pos = saved;
        return w;
    }
    QString word()
    {
        skipSpace();
        const qsizetype start = m_pos;
        while (m_pos < m_text.size() && isWordChar(m_text[m_pos]) && !m_text[m_pos].isSpace())
            ++m_pos;
        return m_text.mid(start, m_pos - start);
    }
    void expectKeyword(QStringView kw)
    {
        if (!isKeyword(word(), kw))
            fail();
    }
    QString identifier()
    {
        skipSpace();
        if (take(u'[')) {
            const qsizetype close = m_text.indexOf(u']', m_pos);
            if (close < 0 || close == m_pos)
                fail();
            QString id = m_text.mid(m_pos, close - m_pos);
            m_pos = close + 1;
            return id;
        }
        QString id = word();
        if (id.isEmpty())
            fail();
        return id;
    }
    QString quoted()
    {
        skipSpace();
        if (!take(u'\''))
            fail();
        QString out;
        for (;;) {
            if (m_pos >= m_text.size())
                fail();
            const QChar c = m_text[m_pos++];
            if (c == u'\'') {
                if (!take(u'\''))
                    return out;
            }
            out.append(c);
        }
    }
    void finish()
    {
        skipSpace();
        take(u';');
        skipSpace();
        if (m_pos != m_text.size())
            fail();
    }

    const QString &m_text;
    qsizetype m_pos = 0;
};

} // namespace

Statement parseRecordSource(const QString &source) { return Parser(source).parse(); }

QString quoteText(const QString &text)
{
    QString out = text;
    out.replace(u'\'', QStringLiteral("''"));
    return out;
}

} // namespace store
