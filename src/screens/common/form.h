#pragma once

#include "screens/common/ui.h"

#include <QMainWindow>

// A window of the application. Its controls stand at fixed positions in a
// client area of a fixed size (below the menu bar where it has one); the
// border is fixed and there is no maximise button. It opens centred on the
// screen.
//
// Closing: unload() is a close made by the program. Any other close (the
// close box, the window menu's Close, Alt+F4) is the user's, and runs
// queryUnload() first; a close while the desktop session ends runs nothing.
// No close is ever refused.
namespace screens {

class Form : public QMainWindow {
    Q_OBJECT
public:
    Form(const char *name, screens::Twips clientArea, QWidget *parent = nullptr);

    // The client area, parent of the form's controls.
    QWidget *client() const { return m_client; }
    // Closes the window as the program's own unload.
    void unload();

    // Set while the desktop session ends: windows then close without their
    // close-box handling.
    static void setSessionEnding(bool ending);

signals:
    void unloaded();

protected:
    // The user closed the window from its control menu.
    virtual void queryUnload() {}
    void closeEvent(QCloseEvent *event) override;
    // Fixes the window size to the client area plus the menu bar; call
    // after the menu bar is built.
    void fixSize();

private:
    QWidget *m_client;
    bool m_unloading = false;
};

} // namespace screens
