#include "screens/registration/main.h"

Main::Main() : common::DataScreen("Main", {0, 0, 8910, 4950})
{
    setWindowTitle(QStringLiteral("ブクレア"));
}

void Main::load() {}
