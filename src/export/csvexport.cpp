#include "export/csvexport.h"

#include "export/safefile.h"
#include "export/utf8.h"
#include "store/error.h"
#include "store/recordset.h"
#include "store/utf8.h"

#include <QFileInfo>
#include <QLocale>

#include <cerrno>

namespace exporting {

namespace {

constexpr qsizetype FlushSize = 1 << 18;
constexpr qint64 ProgressStep = 2048; // books between two progress reports

bool isAscii(QByteArrayView bytes)
{
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

// Appends bytes of ASCII or the target encoding in quotes, quotes doubled.
void appendQuoted(QByteArray &out, QByteArrayView bytes)
{
    out += '"';
    qsizetype from = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '"') {
            out.append(bytes.sliced(from, i + 1 - from));
            out += '"';
            from = i + 1;
        }
    }
    out.append(bytes.sliced(from));
    out += '"';
}

class LineWriter {
public:
    LineWriter(Encoding encoding) : m_encoding(encoding) {}

    // Appends one field given in UTF-8; false when a character cannot be
    // encoded (the character: unencodable()).
    bool field(int column, QByteArrayView utf8)
    {
        if (column > 0)
            line += ',';
        if (isAscii(utf8)) {
            appendQuoted(line, utf8);
            return true;
        }
        if (m_encoding == Encoding::Utf8) {
            // Text the file holds as malformed UTF-8 is written as the
            // screens show it, never as the stray bytes.
            if (store::isValidUtf8(utf8))
                appendQuoted(line, utf8);
            else
                appendQuoted(line, exporting::decodeUtf8Lenient(utf8).toUtf8());
            return true;
        }
        m_text = exporting::decodeUtf8Lenient(utf8);
        m_bytes.clear();
        const qsizetype bad = m_encoder.append(m_text, m_bytes);
        if (bad >= 0) {
            const qsizetype length = m_text[bad].isHighSurrogate() && bad + 1 < m_text.size() ? 2 : 1;
            m_unencodable = m_text.mid(bad, length);
            return false;
        }
        appendQuoted(line, m_bytes);
        return true;
    }
    const QString &unencodable() const { return m_unencodable; }

    QByteArray line;

private:
    Encoding m_encoding;
    Cp932Encoder m_encoder;
    QString m_text;
    QByteArray m_bytes;
    QString m_unencodable;
};

QString codePoints(const QString &text)
{
    QStringList points;
    for (const char32_t c : text.toUcs4())
        points << QStringLiteral("U+") + QString::number(uint(c), 16).toUpper().rightJustified(4, u'0');
    return points.join(u' ');
}

} // namespace

ExportOutcome exportCsv(const store::RecordSet &rows, const QString &path, Encoding encoding, const Progress &progress)
{
    ExportOutcome outcome;
    const QString what = QStringLiteral("CSV ファイルを書き出せませんでした。");
    auto failed = [&](int systemError) {
        outcome.status = ExportOutcome::Status::Failed;
        outcome.message = store::fileError(what, path, store::systemReason(systemError)).message();
        return outcome;
    };
    // Only a file is ever replaced: a device or a pipe of that name would
    // otherwise give way to a regular file, a folder is refused anyway.
    const QFileInfo target(path);
    if (target.exists() && !target.isFile()) {
        outcome.status = ExportOutcome::Status::Failed;
        outcome.message = store::fileError(what, path,
                                           target.isDir() ? store::systemReason(EISDIR)
                                                          : QStringLiteral("通常のファイルではありません"))
                              .message();
        return outcome;
    }
    exporting::SafeFile file(path);
    if (!file.open())
        return failed(file.systemError());

    LineWriter writer(encoding);
    QByteArray &out = writer.line;
    if (encoding == Encoding::Utf8)
        out += Bom;
    for (int i = 0; i < store::FieldCount; ++i)
        writer.field(i, store::fieldNames()[i].toUtf8());
    out += "\r\n";

    bool stopped = false, unencodable = false, writeFailed = false;
    QByteArray number;
    try {
        rows.readAll([&](const store::FieldReader &row) {
            for (int i = 0; i < store::FieldCount; ++i) {
                switch (row.type(i)) {
                case store::FieldReader::Type::Null: out += i > 0 ? ",\"\"" : "\"\""; break;
                case store::FieldReader::Type::Integer:
                    number.setNum(row.integer(i));
                    writer.field(i, number);
                    break;
                case store::FieldReader::Type::Real:
                    number.setNum(row.real(i), 'g', QLocale::FloatingPointShortest);
                    writer.field(i, number);
                    break;
                case store::FieldReader::Type::Text:
                    if (!writer.field(i, row.utf8(i))) {
                        const QString number =
                            row.type(0) == store::FieldReader::Type::Null
                                ? QStringLiteral("（なし）")
                                : exporting::decodeUtf8Lenient(row.type(0) == store::FieldReader::Type::Text
                                                                   ? row.utf8(0)
                                                                   : QByteArray::number(row.integer(0)));
                        outcome.message =
                            QStringLiteral(
                                "蔵書番号 %1 の本（%2 冊目）の「%3」にある文字「%4」（%5）は %6 で書けません。")
                                .arg(number)
                                .arg(outcome.books + 1)
                                .arg(store::fieldNames()[i], writer.unencodable(), codePoints(writer.unencodable()),
                                     encodingName(encoding));
                        unencodable = true;
                        return false;
                    }
                    break;
                }
            }
            out += "\r\n";
            ++outcome.books;
            if (out.size() >= FlushSize) {
                if (file.write(out) != out.size()) {
                    writeFailed = true;
                    return false;
                }
                out.clear();
            }
            if (progress && outcome.books % ProgressStep == 0 && !progress(outcome.books)) {
                stopped = true;
                return false;
            }
            return true;
        });
    } catch (const store::Error &e) {
        outcome.status = ExportOutcome::Status::Failed;
        outcome.message = e.message();
        return outcome;
    }
    if (unencodable) {
        outcome.status = ExportOutcome::Status::Unencodable;
        return outcome;
    }
    if (stopped) {
        outcome.status = ExportOutcome::Status::Cancelled;
        return outcome;
    }
    if (writeFailed || file.write(out) != out.size() || !file.commit())
        return failed(file.systemError());
    outcome.status = ExportOutcome::Status::Written;
    return outcome;
}

} // namespace exporting
