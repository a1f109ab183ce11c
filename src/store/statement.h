#pragma once

#include "store/booktable.h"

#include <QString>

namespace store {

// The record sources the screens hand to a data control: the table name
// "tabel" alone, or
//   select * from tabel [where FIELD like 'PATTERN'] [order by FIELD [asc|desc]] [;]
// Keywords are case-insensitive; field names are written plainly (Japanese
// names included) or in brackets; inside the quoted pattern a doubled
// apostrophe stands for one.
struct Statement {
    QString filterField;  // empty: no where clause
    QString pattern;      // the LIKE pattern, apostrophes undoubled
    QString orderField;   // empty: the table's own order
    bool descending = false;
};

// Parses a record source; throws store::Error for anything else.
Statement parseRecordSource(const QString &source);

// Makes user text safe to embed between the apostrophes of a statement's
// pattern: every apostrophe is doubled, wildcards keep their meaning.
QString quoteText(const QString &text);

} // namespace store
