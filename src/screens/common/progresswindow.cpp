#include "screens/common/progresswindow.h"

#include "screens/common/centring.h"
#include "screens/common/ui.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace common {

ProgressWindow::ProgressWindow(QWidget *parent, const char *name, const QString &title, const QString &path,
                               qint64 total)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_total(std::max<qint64>(total, 1))
{
    setObjectName(QLatin1String(name));
    setWindowTitle(title);
    setWindowModality(Qt::ApplicationModal);
    setFixedSize(ui::toPixels({0, 0, 5400, 1200}).size());
    auto *where = ui::label(this, "path", path, {120, 120, 5160, 375});
    where->setTextFormat(Qt::PlainText);
    where->setToolTip(path);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("progress"));
    m_bar->setGeometry(ui::toPixels({120, 600, 5160, 375}));
    // The bar counts in thousandths, so that any total fits its int range.
    m_bar->setRange(0, 1000);
    m_bar->setValue(0);
    centreOnScreen(this);
}

void ProgressWindow::setDone(qint64 done)
{
    m_bar->setValue(int(std::clamp<qint64>(done, 0, m_total) * 1000 / m_total));
    QCoreApplication::processEvents(m_cancel ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
}

void ProgressWindow::allowCancel()
{
    setFixedSize(ui::toPixels({0, 0, 5400, 1680}).size());
    m_cancel = ui::button(this, "cancel", QStringLiteral("キャンセル"), {4080, 1110, 1200, 420});
    connect(m_cancel, &QPushButton::clicked, this, [this] { m_cancelled = true; });
    centreOnScreen(this);
}

} // namespace common
