#include "app/fonts.h"

#include "screens/common/ui.h"

#include <QFont>

namespace app {

void installFontSubstitutions()
{
    // IPA P Gothic has the same metrics; Noto Sans CJK JP is the fallback.
    QFont::insertSubstitutions(ui::pGothic(), {QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")});
}

} // namespace app
