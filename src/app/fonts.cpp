#include "app/fonts.h"

#include "screens/common/ui.h"

#include <QApplication>
#include <QFont>

namespace app {

void installFontSubstitutions()
{
    // IPA P Gothic has the same metrics; Noto Sans CJK JP is the fallback.
    QFont::insertSubstitutions(screens::pGothic(), {QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")});
    // The dialog font of a Japanese desktop: a proportional gothic at 9 pt.
    QApplication::setFont(screens::font(9));
}

} // namespace app
