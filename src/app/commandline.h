#pragma once

#include <QStringList>
#include <functional>
#include <optional>

class QTextStream;

// The commands the program runs without a window, for scripts: each is an
// option naming the command followed by its arguments. They never need a
// display, print one line per problem on standard error and exit non-zero
// on failure.
namespace app {

struct Command {
    QString option;    // "--backup"
    int argumentCount; // exactly this many arguments follow the option
    QString usage;     // "bukurea --backup"
    // Runs the command; returns the exit status.
    std::function<int(const QStringList &arguments, QTextStream &out, QTextStream &err)> run;
    int optionalCount = 0; // up to so many more may follow (options the command reads itself)
};

// Every command the program knows.
const std::vector<Command> &commands();

// Runs the command named by argv[1] and returns its exit status; nullopt
// when argv names no command, and the windows start as usual.
std::optional<int> runCommandLine(int argc, char **argv);

} // namespace app
