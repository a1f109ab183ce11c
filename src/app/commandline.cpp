#include "app/commandline.h"

#include "app/backupcommands.h"
#include "app/convertaccess.h"
#include "app/csvcommands.h"
#include "app/firststart.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace app {

const std::vector<Command> &commands()
{
    static const std::vector<Command> all = {
        {QStringLiteral("--backup"), 0, QStringLiteral("bukurea --backup"), backupCommand},
        {QStringLiteral("--restore"), 1, QStringLiteral("bukurea --restore FILE"), restoreCommand},
        {QStringLiteral("--convert-access"), 2, QStringLiteral("bukurea --convert-access OLD.mdb NEW.mdb"),
         convertAccessCommand},
        {QStringLiteral("--export-csv"), 1,
         QStringLiteral("bukurea --export-csv FILE [--encoding utf-8|cp932] [--force]"), exportCsvCommand, 3},
        {QStringLiteral("--import-csv"), 1, QStringLiteral("bukurea --import-csv FILE [--encoding utf-8|cp932]"),
         importCsvCommand, 2},
    };
    return all;
}

std::optional<int> runCommandLine(int argc, char **argv)
{
    if (argc < 2)
        return std::nullopt;
    const QString option = QString::fromLocal8Bit(argv[1]);
    const auto &all = commands();
    const auto command = std::find_if(all.begin(), all.end(), [&](const Command &c) { return c.option == option; });
    if (command == all.end())
        return std::nullopt; // not ours: the window system's own options, for instance

    QCoreApplication app(argc, argv);
    QTextStream out(stdout), err(stderr);
    const QStringList arguments = app.arguments().mid(2);
    if (arguments.size() < command->argumentCount
        || arguments.size() > command->argumentCount + command->optionalCount) {
        err << "usage: " << command->usage << Qt::endl;
        return 2;
    }
    prepareForCommand(err);
    const int status = command->run(arguments, out, err);
    out.flush();
    err.flush();
    return status;
}

} // namespace app
