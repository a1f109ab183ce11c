#include "screens/common/form.h"

#include "screens/common/centring.h"

#include <QCloseEvent>
#include <QMenuBar>

namespace screens {

namespace {
bool g_sessionEnding = false;
}

void Form::setSessionEnding(bool ending) { g_sessionEnding = ending; }

Form::Form(const char *name, screens::Twips clientArea, QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                              | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_client(new QWidget(this))
{
    setObjectName(QLatin1String(name));
    m_client->setObjectName(QStringLiteral("client"));
    m_client->setFixedSize(screens::toPixels(clientArea).size());
    setCentralWidget(m_client);
    fixSize();
    centreOnScreen(this);
}

void Form::fixSize()
{
    const int menuHeight = menuWidget() ? menuWidget()->sizeHint().height() : 0;
    setFixedSize(m_client->width(), m_client->height() + menuHeight);
}

void Form::unload()
{
    m_unloading = true;
    close();
}

void Form::closeEvent(QCloseEvent *event)
{
    if (!m_unloading && !g_sessionEnding) {
        m_unloading = true; // the handler's own unload is the program's
        queryUnload();
    }
    event->accept();
    emit unloaded();
}

} // namespace screens
