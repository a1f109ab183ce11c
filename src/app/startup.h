#pragma once

#include "app/firststart.h"

namespace app {

class Navigator;

// What the program does before it shows anything or runs a command: decide
// where its files are (portable or installed, see store/places.h) and, on
// the first start of an installed program, make the user's data folder with
// an empty collection, telling the user so once.

// The windows: decides the places, shows the start menu and, when the
// first start made the collection, a message naming it over the menu. A
// collection that could not be made is reported and the menu still opens
// (a data screen then reports the missing file). Returns false, after a
// message, when the program has no folder for its files at all.
bool showStartMenu(Navigator &navigator);
// A windowless command: prepareForCommand() (app/firststart.h).

} // namespace app
