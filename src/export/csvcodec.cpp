#include "export/csvcodec.h"

namespace csv {

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

qsizetype validUtf8Prefix(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int length;
        unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0; // no overlong form
            else if (c == 0xED)
                high = 0x9F; // no surrogate
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90;
            else if (c == 0xF4)
                high = 0x8F; // nothing beyond U+10FFFF
        } else {
            return i;
        }
        if (i + length > n || p[i + 1] < low || p[i + 1] > high)
            return i;
        for (int k = 2; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return i;
        }
        i += length;
    }
    return n;
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
        if (!isStrictUtf8(bytes))
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

} // namespace csv
