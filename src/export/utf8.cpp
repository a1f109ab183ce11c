#include "export/utf8.h"

#include <QStringDecoder>

namespace exporting {

QString decodeUtf8Lenient(QByteArrayView utf8)
{
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(utf8);
}

} // namespace exporting
