#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>
#include <optional>

// The text encodings of CSV files: UTF-8, which a file may mark with a
// byte order mark, and Shift_JIS as Windows writes it (code page 932, with
// the NEC and IBM extensions), which Japanese Excel reads and writes.
namespace exporting {

enum class Encoding { Utf8, Cp932 };

// "UTF-8" or "Shift_JIS (CP932)", as the user sees it.
QString encodingName(Encoding encoding);

inline constexpr char Bom[] = "\xEF\xBB\xBF";

// How many bytes at the end of `bytes` begin a UTF-8 character that goes
// on beyond them (0 to 3), for text read in blocks.
qsizetype cutUtf8Tail(QByteArrayView bytes);

// Encodes text as code page 932. Characters that Unicode has twice, once as
// JIS defines them and once as Windows maps the same Shift_JIS bytes (WAVE
// DASH and FULLWIDTH TILDE, and six more), are written as the Windows
// bytes; Qt's encoder would otherwise put two junk bytes in their place.
class Cp932Encoder {
public:
    Cp932Encoder();
    // Appends `text` encoded to `out` and returns -1; or, when a character
    // cannot be written in code page 932, appends nothing and returns its
    // index in `text`.
    qsizetype append(QStringView text, QByteArray &out);

private:
    // Made in place, never moved: Qt hands ICU the address of the
    // converter's state, and a moved converter would no longer learn of its
    // errors.
    std::optional<QStringEncoder> m_encoder;
    QString m_mapped;
};

// The Windows form of a character that JIS and Windows map differently;
// any other character unchanged.
char16_t windowsForm(char16_t c);

// Decodes the bytes of one field. A byte sequence the encoding does not
// allow makes decode() return false.
class Decoder {
public:
    explicit Decoder(Encoding encoding);
    bool decode(QByteArrayView bytes, QString &out);

private:
    Encoding m_encoding;
    std::optional<QStringDecoder> m_cp932; // in place, as Cp932Encoder's
};

} // namespace exporting
