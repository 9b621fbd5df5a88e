// Sidecar parsing on damaged input: Finder information and the resource fork
// come back whole or not at all.
#include "AppleDoubleFile.h"
#include "FuzzTarget.h"

#include <QByteArray>

std::vector<std::string> FuzzSeeds()
{
    std::vector<std::string> seeds;
    AppleDoubleFile sidecar("/nonexistent/file");
    sidecar.setFinderInfo(0x53643266 /* Sd2f */, 0x53643261 /* Sd2a */, 0x0100);
    QByteArray finderOnly = sidecar.Serialize();
    seeds.emplace_back(finderOnly.constData(), finderOnly.size());
    QByteArray fork(300, '\0');
    fork[3] = 0x10; // a small resource-fork-like body
    sidecar.setResourceFork(fork);
    QByteArray both = sidecar.Serialize();
    seeds.emplace_back(both.constData(), both.size());
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    AppleDoubleFile sidecar("/nonexistent/file");
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (sidecar.Parse(bytes) == noErr) {
        // A parsed sidecar serialises again without trouble.
        QByteArray again = sidecar.Serialize();
        (void)again;
    }
    return 0;
}
