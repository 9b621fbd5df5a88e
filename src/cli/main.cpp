// quillmarch-batch: runs a batch of conversions without a display, as the
// application's Start button does.  See BatchOptions.h for the command line.
#include "BatchCommand.h"
#include "BatchOptions.h"
#include "string_utils.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__)
#define QM_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QM_LEAK_CHECKED 1
#endif
#endif

#ifdef QM_LEAK_CHECKED
// The leak checker of the sanitizer build: what a library loaded with the
// media libraries keeps for the process's lifetime is not ours (SRT's
// static set-up, whose only pointer goes with the library's own static
// objects at exit, and so is found, now and then, as a leak).
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libsrt\n";
}
#endif

int main(int argc, char* argv[])
{
    // The media libraries allocate each packet 64-byte aligned and free it
    // a moment later; with the allocator's fast bins on, every such free
    // beside the heap's top gathers them all again (malloc_consolidate),
    // 5% of a compressed input's time.  Small blocks are still kept per
    // thread (tcache).
    mallopt(M_MXFAST, 0);
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    // An argument that is not UTF-8 (an input's name) keeps its bytes
    // apart, so that it is shown as it is.
    if (arguments.size() == argc) {
        for (int i = 1; i < argc; ++i)
            arguments[i] = file_name_text(argv[i]);
    }
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
