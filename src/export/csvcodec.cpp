#include "export/csvcodec.h"

#include "store/utf8.h"

namespace exporting {

namespace {

// Qt reaches code page 932 through ICU under this name; "Shift_JIS" names
// the same table there, with the NEC and IBM extensions.
constexpr char Cp932Name[] = "windows-31j";

constexpr QStringConverter::Flags Flags = QStringConverter::Flag::Stateless;

} // namespace

QString encodingName(Encoding encoding)
{
    return encoding == Encoding::Utf8 ? QStringLiteral("UTF-8") : QStringLiteral("Shift_JIS (CP932)");
}

qsizetype cutUtf8Tail(QByteArrayView bytes)
{
    for (qsizetype back = 1; back <= 3 && back <= bytes.size(); ++back) {
        const auto c = static_cast<unsigned char>(bytes[bytes.size() - back]);
        if (c < 0x80)
            return 0;
        if (c >= 0xC0) { // the first byte of a character: complete or not
            const qsizetype length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
            return length > back ? back : 0;
        }
    }
    return 0;
}

char16_t windowsForm(char16_t c)
{
    switch (c) {
    case 0x301C: return 0xFF5E; // WAVE DASH → FULLWIDTH TILDE
    case 0x2016: return 0x2225; // DOUBLE VERTICAL LINE → PARALLEL TO
    case 0x2212: return 0xFF0D; // MINUS SIGN → FULLWIDTH HYPHEN-MINUS
    case 0x00A2: return 0xFFE0; // CENT SIGN → FULLWIDTH CENT SIGN
    case 0x00A3: return 0xFFE1; // POUND SIGN → FULLWIDTH POUND SIGN
    case 0x00AC: return 0xFFE2; // NOT SIGN → FULLWIDTH NOT SIGN
    case 0x2014: return 0x2015; // EM DASH → HORIZONTAL BAR
    default: return c;
    }
}

Cp932Encoder::Cp932Encoder() { m_encoder.emplace(Cp932Name, Flags); }

qsizetype Cp932Encoder::append(QStringView text, QByteArray &out)
{
    m_mapped.resize(text.size());
    for (qsizetype i = 0; i < text.size(); ++i)
        m_mapped[i] = QChar(windowsForm(text[i].unicode()));
    const qsizetype before = out.size();
    out += (*m_encoder)(m_mapped);
    if (!m_encoder->hasError())
        return -1;
    // The encoder's error stays set once raised: a fresh one finds the
    // character, one at a time, and serves the calls that follow.
    out.truncate(before);
    m_encoder.emplace(Cp932Name, Flags);
    for (qsizetype i = 0; i < m_mapped.size(); ++i) {
        const qsizetype length = m_mapped[i].isHighSurrogate() && i + 1 < m_mapped.size() ? 2 : 1;
        QStringEncoder single(Cp932Name, Flags);
        const QByteArray bytes = single(QStringView(m_mapped).mid(i, length));
        if (single.hasError())
            return i;
        i += length - 1;
    }
    return 0;
}

Decoder::Decoder(Encoding encoding) : m_encoding(encoding)
{
    if (encoding == Encoding::Cp932)
        m_cp932.emplace(Cp932Name, Flags);
}

bool Decoder::decode(QByteArrayView bytes, QString &out)
{
    if (m_encoding == Encoding::Utf8) {
        if (!store::isValidUtf8(bytes))
            return false;
        out = QString::fromUtf8(bytes);
        return true;
    }
    out = (*m_cp932)(bytes);
    if (!m_cp932->hasError())
        return true;
    m_cp932.emplace(Cp932Name, Flags); // its error stays set once raised
    return false;
}

} // namespace exporting
