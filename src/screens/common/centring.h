#pragma once

class QWidget;

namespace screens {

// Opens a window centred on its screen's available area by its whole frame
// (title bar and borders included), not by its client area alone, so the
// whole frame lies inside the area. A window larger than the area (at 2x
// scaling on a small screen) is made to fit the area: its contents, which
// stand at fixed positions, scroll inside it.
//
// The window system tells a window's frame only once the window is on the
// screen. So the window is placed when it is first shown, with the frame of
// an earlier window of the application as the guess, and placed again at
// once when its own frame turns out different (the first window of a run
// then moves by about half a title bar; later ones stand still). Later
// showings keep the place the window has. Without a window manager's frame
// (offscreen, or a desktop without title bars) the client area is centred.
// Call once, before the first show.
void centreOnScreen(QWidget *window);

} // namespace screens
