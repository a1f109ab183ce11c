#pragma once

// Moving between the windows. Data screens are created and loaded afresh
// each time they are shown and destroyed when left; the start menu is only
// hidden while one of them is shown.
namespace app {

void showMenu();
void showRegistration();
void showEdit();
void showList();
// Unloads the start menu; the application then ends.
void unloadMenu();

} // namespace app
