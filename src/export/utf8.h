#pragma once

// Decoding the database's UTF-8 texts straight into UTF-16 buffers, without
// a QString per value.

#include "store/utf8.h"

#include <QByteArrayView>
#include <QString>

namespace exporting {

// The UTF-16 form of well-formed UTF-8, or -1 (store::decodeUtf8): then
// decodeUtf8Lenient() gives what the store shows for the bytes.
using store::decodeUtf8;

// Any bytes as the store decodes them: malformed sequences become U+FFFD,
// a leading U+FEFF is kept as a character.
QString decodeUtf8Lenient(QByteArrayView utf8);

} // namespace exporting
