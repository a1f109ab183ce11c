#pragma once

#include <QObject>
#include <memory>

namespace screens {
class StartMenu;
}
namespace screens {
class DataScreen;
}

namespace app {

// Moves between the windows, the only code that knows every screen. It owns
// the start menu, which is only hidden while a data screen is shown; a data
// screen is created and loaded afresh each time it is asked for and
// destroyed when left.
class Navigator : public QObject {
    Q_OBJECT
public:
    Navigator();
    ~Navigator() override;

    screens::StartMenu &menu() const { return *m_menu; }

signals:
    // The start menu was unloaded: the application ends.
    void ended();

private:
    // Looks at the collection's file first: one in the older Access format
    // is converted on the user's word, or nothing opens. Only then creates
    // a data screen and runs its load, then hides the start menu and shows
    // the screen; a load that fails is reported, the screen is dropped and
    // the start menu comes back, so the user is never left without a
    // window.
    template <typename Screen> void open();
    void follow(screens::DataScreen *screen);

    std::unique_ptr<screens::StartMenu> m_menu;
};

} // namespace app
