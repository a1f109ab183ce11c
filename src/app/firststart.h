#pragma once

#include <QString>

class QTextStream;

namespace app {

// Makes the first collection where this start is the first (an installed
// program without its data folder yet); returns the notice for the user,
// empty when nothing was made. Throws store::Error.
QString prepareFirstStart();

// A windowless command: the same preparation as a start with windows,
// told in one line on standard error; a failure is told there too and left
// to the command, which fails on the missing collection if it needs one.
void prepareForCommand(QTextStream &err);

} // namespace app
