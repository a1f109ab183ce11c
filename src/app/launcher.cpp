// The program itself. A windowless command (bukurea --backup...) runs here
// with Qt Core alone; a start with windows loads the module that holds them
// (main.cpp) and hands over to it. Loading Qt Widgets and Qt GUI with the
// libraries they need takes most of the time a short command takes
// otherwise, and a backup run from a script should cost what a file copy
// costs.
#include "app/commandline.h"

#include <climits>
#include <cstdio>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

namespace {

// The folder of the running executable, links followed.
std::string executableFolder()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    const std::string file(path, size_t(n));
    return file.substr(0, file.rfind('/'));
}

} // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> status = app::runCommandLine(argc, argv))
        return *status;
    // Beside the program (the build, a portable folder), or in
    // PREFIX/lib/bukurea for a program installed in PREFIX/bin.
    const std::string folder = executableFolder();
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
