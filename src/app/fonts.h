#pragma once

namespace app {
// Maps the screens' font "ＭＳ Ｐゴシック" onto an installed Japanese font and
// makes it, at 9 pt, the default font of every control.
void installFontSubstitutions();
} // namespace app
