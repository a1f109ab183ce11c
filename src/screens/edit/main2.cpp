#include "screens/edit/main2.h"

Main2::Main2() : common::DataScreen("Main2", {0, 0, 8895, 4950})
{
    setWindowTitle(QStringLiteral("ブクレア"));
}

void Main2::load() {}
