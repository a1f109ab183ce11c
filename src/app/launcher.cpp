// The program itself. A windowless command (bukurea --backup...) runs here
// with Qt Core alone; a start with windows loads the module that holds them
// (main.cpp) and hands over to it. Loading Qt Widgets and Qt GUI with the
// libraries they need takes most of the time a short command takes
// otherwise, and a backup run from a script should cost what a file copy
// costs.
#include "app/commandline.h"
#include "store/module1.h"

#include <algorithm>
#include <cstdio>
#include <dlfcn.h>
#include <string>

int main(int argc, char *argv[])
{
    if (const std::optional<int> status = app::runCommandLine(argc, argv))
        return *status;
    // Beside the program (the build, a portable folder), or in
    // PREFIX/lib/bukurea for a program installed in PREFIX/bin; the folder
    // as the system's bytes, so that a name that is not text still finds
    // the module, whose windows then say what is wrong with it.
    const QByteArray executable = store::executablePath();
    const std::string folder = executable.left(std::max<qsizetype>(0, executable.lastIndexOf('/'))).toStdString();
    std::string reasons;
    for (const char *place : {"/bukurea-windows.so", "/../lib/bukurea/bukurea-windows.so"}) {
        void *module = ::dlopen((folder + place).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            reasons += std::string(reasons.empty() ? "" : "; ") + ::dlerror();
            continue;
        }
        using Entry = int (*)(int, char **);
        if (const auto entry = reinterpret_cast<Entry>(::dlsym(module, "bukurea_windows_main")))
            return entry(argc, argv);
        reasons += std::string(reasons.empty() ? "" : "; ") + ::dlerror();
    }
    std::fprintf(stderr, "bukurea: ウィンドウを表示できません。プログラムのファイルを読み込めません（%s）\n",
                 reasons.c_str());
    return 1;
}
