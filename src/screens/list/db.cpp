#include "screens/list/db.h"

db::db() : common::DataScreen("db", {0, 0, 11910, 7800})
{
    setWindowTitle(QStringLiteral("ブクレア　【一覧表示】"));
}

void db::load() {}
