// convert_helper PATH KILL_AT [nobody | limit=BYTES]
//
// Converts the Access file PATH in place, as the program does, and kills
// itself with SIGKILL at KILL_AT: "reading" (the first news of progress),
// "written", "kept" or "replaced" (after those steps), or "never". With
// "nobody" it first gives up root, so that a folder's permissions apply;
// with "limit=BYTES" no file it writes may grow beyond BYTES, as on a full
// disk.
// Exit status 0 when converted, 1 with the reason on standard output when not.
#include "store/accessconversion.h"

#include <QCoreApplication>
#include <QTextStream>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 2;
    if (args.value(3) == QLatin1String("nobody") && geteuid() == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            return 3;
    }
    if (args.value(3).startsWith(QLatin1String("limit="))) {
        const rlim_t bytes = args.value(3).mid(6).toULongLong();
        const rlimit limit{bytes, bytes};
        std::signal(SIGXFSZ, SIG_IGN); // a write beyond the limit then fails instead
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 3;
    }
    const QString killAt = args.at(2);
    store::AccessConversionOptions options;
    options.progress = [&](qint64, qint64) {
        if (killAt == QLatin1String("reading"))
            raise(SIGKILL);
    };
    options.afterStep = [&](store::AccessConversionOptions::Step step) {
        using Step = store::AccessConversionOptions::Step;
        if ((step == Step::NewFileWritten && killAt == QLatin1String("written"))
            || (step == Step::OriginalKept && killAt == QLatin1String("kept"))
            || (step == Step::Replaced && killAt == QLatin1String("replaced")))
            raise(SIGKILL);
    };
    try {
        store::convertAccessFileInPlace(args.at(1), options);
    } catch (const store::ConversionError &e) {
        QTextStream(stdout) << e.reason() << Qt::endl;
        return 1;
    }
    return 0;
}
