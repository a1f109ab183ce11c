#pragma once

#include <QString>

class QWidget;

namespace screens {

// The step before the first change of a day to the collection at
// `databasePath` (a book saved, corrected or deleted, a collection
// converted): makes today's backup when none exists yet. When it cannot be
// made, the user is told why and asked whether to go on without one.
// Returns true when the change may be written; false when the user chose
// not to go on, and nothing may be written.
bool backupBeforeChange(QWidget *parent, const QString &databasePath);

} // namespace screens
