#pragma once

// Decoding the database's UTF-8 texts straight into UTF-16 buffers, without
// a QString per value.

#include <QByteArrayView>
#include <QString>

namespace xls {

// Writes the UTF-16 form of `utf8` to `out`, which has room for at least
// utf8.size() units (UTF-16 never takes more units than UTF-8 takes bytes),
// and returns the units written. Returns -1 when the bytes are not
// well-formed UTF-8 (a stray or missing continuation byte, an overlong form,
// an encoded surrogate, a code point past U+10FFFF): then decodeUtf8Lenient()
// gives what the store shows for them.
qsizetype decodeUtf8(QByteArrayView utf8, char16_t *out);

// Any bytes as the store decodes them: malformed sequences become U+FFFD,
// a leading U+FEFF is kept as a character.
QString decodeUtf8Lenient(QByteArrayView utf8);

} // namespace xls
