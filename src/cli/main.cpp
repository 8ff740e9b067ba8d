// zknews-cli: the news client of ZK News Reader on the command line.
#include "cli/clicommands.h"

#include <QCoreApplication>
#include <QFile>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QFile in;
    QFile out;
    QFile err;
    in.open(STDIN_FILENO, QIODevice::ReadOnly);
    out.open(STDOUT_FILENO, QIODevice::WriteOnly);
    err.open(STDERR_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    int status = RunCli(arguments, qgetenv("ZKNEWS_PASSWORD"), TCliStreams{in, out, err});
    // Output that never reached its file (a full disk, a closed pipe) is a failure too.
    if (!out.flush() && status == kExitSuccess) {
        err.write("zknews-cli: Cannot write standard output: " + out.errorString().toLocal8Bit() +
                  '\n');
        status = kExitFailure;
    }
    return status;
}
