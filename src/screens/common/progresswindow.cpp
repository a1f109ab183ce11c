#include "screens/common/progresswindow.h"

#include "screens/common/centring.h"
#include "screens/common/ui.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>

namespace screens {

namespace {
const screens::Twips withoutButton{0, 0, 5400, 1500};
const screens::Twips withButton{0, 0, 5400, 2100};
} // namespace

ProgressWindow::ProgressWindow(QWidget *parent, const char *name, const QString &title, const QString &path,
                               qint64 total)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_total(std::max<qint64>(total, 1))
{
    setObjectName(QLatin1String(name));
    setWindowTitle(title);
    setWindowModality(Qt::ApplicationModal);
    setFixedSize(screens::toPixels(withoutButton).size());
    m_text = screens::label(this, "status", QString(), {120, 120, 5160, 330});
    m_text->setTextFormat(Qt::PlainText);
    auto *where = screens::label(this, "path", path, {120, 480, 5160, 330});
    where->setTextFormat(Qt::PlainText);
    where->setToolTip(path);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("progress"));
    m_bar->setGeometry(screens::toPixels({120, 900, 5160, 375}));
    // The bar counts in thousandths, so that any total fits its int range.
    m_bar->setRange(0, 1000);
    m_bar->setValue(0);
    centreOnScreen(this);
}

void ProgressWindow::setText(const QString &text) { m_text->setText(text); }

void ProgressWindow::allowCancel()
{
    if (m_cancel)
        return;
    m_cancel = screens::button(this, "cancel", QStringLiteral("キャンセル"), {3960, 1440, 1320, 435});
    connect(m_cancel, &QPushButton::clicked, this, &ProgressWindow::cancel);
    setFixedSize(screens::toPixels(withButton).size());
    centreOnScreen(this);
}

void ProgressWindow::cancel()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    m_cancel->setEnabled(false);
    emit cancelRequested();
}

void ProgressWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Escape)
        return QDialog::keyPressEvent(event);
    if (m_cancel)
        cancel();
}

void ProgressWindow::closeEvent(QCloseEvent *event)
{
    if (!event->spontaneous())
        return QWidget::closeEvent(event);
    if (m_cancel)
        cancel();
    event->ignore();
}

void ProgressWindow::setDone(qint64 done)
{
    m_bar->setValue(int(std::clamp<qint64>(done, 0, m_total) * 1000 / m_total));
    // The window is modal: with a cancel button, input reaches only it.
    QCoreApplication::processEvents(m_cancel ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
}

} // namespace screens
