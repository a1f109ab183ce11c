#pragma once

namespace app {

// Prepares the application object for its windows, before the first one is
// shown: the Japanese fonts (fonts.h) and Qt's own texts in Japanese (the
// buttons of message boxes, the context menus of text boxes and every other
// text that Qt itself shows). The application's own texts are Japanese
// already and are not touched. When the desktop session ends, the windows
// are told to close without their close-box handling.
//
// Called once by main() and by the tests' start-up, so that tests see what
// users see. Returns false when Qt's Japanese translation is not installed;
// Qt's texts then stay English and everything else works.
bool setUpDesktop();

} // namespace app
