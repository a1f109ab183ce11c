#pragma once

#include <QString>

namespace app {

// A collection at `path` in the older Access format: asks whether to
// convert it and, on Yes, converts it in place under a progress window,
// keeping the original beside it. Returns true when `path` now holds the
// converted collection. On No nothing is written; a conversion that fails
// is reported in a message naming the file and the reason, and leaves the
// file as it was.
bool convertOldCollection(const QString &path);

} // namespace app
