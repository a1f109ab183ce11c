#include "export/csvimport.h"

#include "store/error.h"
#include "store/utf8.h"

#include <QFileInfo>

#include <cerrno>

namespace exporting {

namespace {

const QString &lendingField() { return store::fieldNames()[7]; }
bool isNumberField(int field) { return field == 0 || field == 4; }

QString readError() { return QStringLiteral("CSV ファイルを読めません。"); }

// Opens `path` for reading, or throws naming it and the reason.
void openForReading(QFile &file, const QString &path)
{
    const QFileInfo info(path);
    int reason = 0;
    if (!info.exists())
        reason = ENOENT;
    else if (info.isDir())
        reason = EISDIR;
    else if (!info.isFile())
        throw store::fileError(readError(), path, QStringLiteral("通常のファイルではありません"));
    else if (file.setFileName(path), !file.open(QIODevice::ReadOnly))
        reason = info.isReadable() ? EIO : EACCES;
    if (reason)
        throw store::fileError(readError(), path, store::systemReason(reason));
}

[[noreturn]] void throwReadFailure(const QString &path, const QFile &file)
{
    throw store::fileError(readError(), path, file.errorString());
}

// Decodes without checks: what cannot be read shows as U+FFFD.
QString lenientText(Encoding encoding, Decoder &decoder, QByteArrayView bytes)
{
    QString text;
    if (decoder.decode(bytes, text))
        return text;
    if (encoding == Encoding::Utf8)
        return QString::fromUtf8(bytes);
    return text;
}

} // namespace

QString describe(const Problem &problem)
{
    if (problem.line <= 0)
        return problem.reason;
    return QStringLiteral("%1 行目: %2").arg(problem.line).arg(problem.reason);
}

std::optional<QString> wholeNumber(const QString &text)
{
    QString plain = text.trimmed();
    for (QChar &c : plain) {
        const char16_t u = c.unicode();
        if (u >= u'０' && u <= u'９')
            c = QChar(u'0' + (u - u'０'));
        else if (u == u'＋')
            c = u'+';
        else if (u == u'－' || u == 0x2212)
            c = u'-';
    }
    qsizetype i = 0;
    if (!plain.isEmpty() && (plain[0] == u'+' || plain[0] == u'-'))
        i = 1;
    if (i == plain.size())
        return std::nullopt;
    for (qsizetype k = i; k < plain.size(); ++k) {
        if (plain[k] < u'0' || plain[k] > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const qint64 value = plain.toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return QString::number(value);
}

QString foldedHeading(const QString &text)
{
    QString folded = text.normalized(QString::NormalizationForm_KC);
    folded.remove(QChar(0xFEFF));
    return folded.trimmed();
}

Encoding detectEncoding(const QString &path)
{
    QFile file;
    openForReading(file, path);
    QByteArray block(1 << 16, Qt::Uninitialized);
    QByteArray carry; // the start of a character cut by the block's end
    bool first = true;
    for (;;) {
        const qint64 n = file.read(block.data(), block.size());
        if (n < 0)
            throwReadFailure(path, file);
        if (n == 0)
            return carry.isEmpty() ? Encoding::Utf8 : Encoding::Cp932;
        QByteArray bytes = carry;
        bytes.append(block.constData(), n);
        if (first && bytes.startsWith(Bom))
            return Encoding::Utf8;
        first = false;
        // A character may go on in the next block: its first bytes are
        // checked with it (or, at the end of the file, are a character cut
        // short).
        const qsizetype whole = bytes.size() - cutUtf8Tail(bytes);
        if (!store::isValidUtf8(QByteArrayView(bytes).first(whole)))
            return Encoding::Cp932;
        carry = bytes.mid(whole);
    }
}

BookSource::BookSource(const QString &path, Encoding encoding) : m_path(path), m_encoding(encoding), m_decoder(encoding)
{
    openForReading(m_file, path);
    m_reader = std::make_unique<RecordReader>(m_file, encoding == Encoding::Utf8);
}

BookSource::~BookSource() = default;

// Reads the next record that is not a blank line into the reader; false at
// the end (with the problem of a quote left open).
bool BookSource::read(Problem *problem)
{
    if (m_replay) {
        m_replay = false;
        return true;
    }
    if (m_ended)
        return false;
    for (;;) {
        switch (m_reader->next()) {
        case RecordReader::Status::Record:
            if (m_reader->blank())
                continue;
            return true;
        case RecordReader::Status::End: m_ended = true; return false;
        case RecordReader::Status::Unterminated:
            m_ended = true;
            if (problem)
                *problem = {m_reader->line(),
                            QStringLiteral("引用符 (\") で始まる項目が閉じられないまま、ファイルが終わっています")};
            return false;
        case RecordReader::Status::ReadError: throwReadFailure(m_path, m_file);
        }
    }
}

std::optional<Problem> BookSource::start()
{
    Problem problem;
    if (!read(&problem)) {
        if (!problem.reason.isEmpty())
            return problem;
        return Problem{0, QStringLiteral("ファイルが空です。取り込む本がありません")};
    }
    decodeRecord(true);
    m_layout = {};
    m_layout.column.fill(-1);
    m_layout.width = int(m_reader->fieldCount());
    for (int c = 0; c < m_cells.size(); ++c) {
        const int field = int(store::fieldNames().indexOf(foldedHeading(m_cells[c])));
        if (field >= 0 && m_layout.column[size_t(field)] < 0) {
            m_layout.column[size_t(field)] = c;
            m_layout.heading = true;
        }
    }
    if (m_layout.heading) {
        for (int c = 0; c < m_cells.size(); ++c) {
            if (std::find(m_layout.column.begin(), m_layout.column.end(), c) == m_layout.column.end()) {
                const QString name = m_cells[c].trimmed();
                m_layout.ignored << (name.isEmpty() ? QStringLiteral("%1 列目（見出しなし）").arg(c + 1)
                                                    : QStringLiteral("「%1」").arg(name));
            }
        }
        return std::nullopt;
    }
    if (m_layout.width < store::FieldCount) {
        return Problem{m_reader->line(),
                       QStringLiteral("見出しの行がなく、項目が %1 つしかありません（9 つの項目を順に並べてください）")
                           .arg(m_layout.width)};
    }
    for (int i = 0; i < store::FieldCount; ++i)
        m_layout.column[size_t(i)] = i;
    for (int c = store::FieldCount; c < m_layout.width; ++c)
        m_layout.ignored << QStringLiteral("%1 列目").arg(c + 1);
    m_replay = true;
    return std::nullopt;
}

// Decodes the record just read into m_cells; the problem of the first
// field that cannot be decoded, unless `lenient`.
std::optional<Problem> BookSource::decodeRecord(bool lenient)
{
    const auto &fields = m_reader->fields();
    const int count = int(m_reader->fieldCount());
    m_cells.resize(count);
    std::optional<Problem> problem;
    for (int c = 0; c < count; ++c) {
        const QByteArrayView bytes(fields[size_t(c)].data(), qsizetype(fields[size_t(c)].size()));
        if (lenient) {
            m_cells[c] = lenientText(m_encoding, m_decoder, bytes);
        } else if (!m_decoder.decode(bytes, m_cells[c])) {
            return Problem{
                m_reader->line(),
                QStringLiteral("%1 列目に %2 として読めない文字があります").arg(c + 1).arg(encodingName(m_encoding))};
        }
    }
    return problem;
}

BookSource::Next BookSource::next(store::BookTexts &book, Problem &problem)
{
    problem = {};
    if (!read(&problem))
        return problem.reason.isEmpty() ? Next::End : Next::Problem;
    const qint64 line = m_reader->line();
    if (m_reader->strayText()) {
        problem = {line, QStringLiteral("引用符 (\") で囲んだ項目の後ろに余分な文字があります")};
        return Next::Problem;
    }
    if (int(m_reader->fieldCount()) != m_layout.width) {
        problem = {
            line,
            QStringLiteral("項目の数が %1 です（%2 のはずです）").arg(m_reader->fieldCount()).arg(m_layout.width)};
        return Next::Problem;
    }
    if (std::optional<Problem> bad = decodeRecord(false)) {
        problem = *bad;
        return Next::Problem;
    }
    for (int i = 0; i < store::FieldCount; ++i) {
        const int c = m_layout.column[size_t(i)];
        QString &value = book[size_t(i)];
        value = c >= 0 ? m_cells[c] : QString();
        if (value.isEmpty())
            continue;
        if (isNumberField(i)) {
            const std::optional<QString> number = wholeNumber(value);
            if (!number && !value.trimmed().isEmpty()) {
                problem = {line, QStringLiteral("%1「%2」が整数ではありません").arg(store::fieldNames()[i], value)};
                return Next::Problem;
            }
            value = number.value_or(QString());
        } else if (i == 7 && value != QStringLiteral("可") && value != QStringLiteral("中")) {
            problem = {
                line,
                QStringLiteral("%1「%2」は「可」「中」または空欄でなければなりません").arg(lendingField(), value)};
            return Next::Problem;
        }
    }
    return Next::Book;
}

bool BookSource::nextUnchecked(store::BookTexts &book)
{
    if (!read(nullptr))
        return false;
    decodeRecord(true);
    for (int i = 0; i < store::FieldCount; ++i) {
        const int c = m_layout.column[size_t(i)];
        book[size_t(i)] = c >= 0 && c < m_cells.size() ? m_cells[c] : QString();
    }
    return true;
}

Preview preview(const QString &path, Encoding encoding, int maxBooks)
{
    Preview result;
    BookSource source(path, encoding);
    result.problem = source.start();
    result.layout = source.layout();
    if (result.problem)
        return result;
    store::BookTexts book;
    while (result.books.size() < maxBooks && source.nextUnchecked(book))
        result.books << book;
    return result;
}

Check checkFile(const QString &path, Encoding encoding, const ReadProgress &progress)
{
    Check check;
    BookSource source(path, encoding);
    auto add = [&](const Problem &p) {
        if (check.problems.size() < MaxProblems)
            check.problems << p;
        ++check.problemCount;
    };
    if (const std::optional<Problem> p = source.start()) {
        add(*p);
        return check;
    }
    store::BookTexts book;
    Problem problem;
    qint64 lines = 0;
    for (;;) {
        const BookSource::Next n = source.next(book, problem);
        if (n == BookSource::Next::End)
            break;
        if (n == BookSource::Next::Book)
            ++check.books;
        else
            add(problem);
        if (progress && ++lines % 1024 == 0 && !progress(source.bytesRead())) {
            check.cancelled = true;
            return check;
        }
    }
    if (check.books == 0 && check.problemCount == 0)
        add({0, QStringLiteral("見出しの行のほかに本の行がありません。取り込む本がありません")});
    return check;
}

qint64 importFile(store::Connection &connection, const QString &path, Encoding encoding, const ReadProgress &progress)
{
    BookSource source(path, encoding);
    auto refuse = [&](const Problem &p) {
        return store::fileError(QStringLiteral("CSV ファイルを取り込めませんでした。"), path, describe(p));
    };
    if (const std::optional<Problem> p = source.start())
        throw refuse(*p);
    Problem problem;
    qint64 lines = 0;
    const qint64 added = store::appendBooks(connection, [&](store::BookTexts &book) {
        const BookSource::Next n = source.next(book, problem);
        if (n == BookSource::Next::Problem)
            throw refuse(problem);
        if (progress && ++lines % 1024 == 0 && !progress(source.bytesRead()))
            throw Cancelled{};
        return n == BookSource::Next::Book;
    });
    if (added == 0)
        throw refuse({0, QStringLiteral("取り込む本がありません")});
    return added;
}

} // namespace exporting
