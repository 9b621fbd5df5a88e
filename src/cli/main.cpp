// quillmarch-batch: runs a batch of conversions without a display, as the
// application's Start button does.  See BatchOptions.h for the command line.
#include "BatchCommand.h"
#include "BatchOptions.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();

    const BatchOptions options = BatchOptions::parse(arguments);
    if (options.helpRequested()) {
        std::fputs(BatchOptions::help().toUtf8().constData(), stdout);
        return 0;
    }
    if (!options.ok()) {
        const QString text = QStringLiteral("quillmarch-batch: ") + options.error() + QLatin1Char('\n') +
                             BatchOptions::usage();
        std::fputs(text.toUtf8().constData(), stderr);
        return BatchOptions::kUsageExitStatus;
    }
    BatchCommand command(options);
    return command.run();
}
