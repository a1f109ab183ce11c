#pragma once

namespace app {
// Maps the screens' font "ＭＳ Ｐゴシック" onto an installed Japanese font.
void installFontSubstitutions();
}
