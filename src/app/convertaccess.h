#pragma once

#include <QStringList>

class QTextStream;

namespace app {

// bukurea --convert-access OLD NEW: converts the Access file OLD into a new
// book database NEW, which must not exist yet. OLD is only read. Returns
// the exit status: 0 when NEW was written, 1 when not (one line on `err`
// says why).
int convertAccessCommand(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace app
