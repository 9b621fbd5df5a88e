// The sidecar of any input: a damaged "._name" beside a good AIFF file never
// stops the file from being described, created and read.
#include "AIFFFuzzSeeds.h"
#include "AppleDoubleFile.h"
#include "CSoundFile.h"
#include "EngineStartup.h"
#include "FuzzTarget.h"
#include "ZuSoundFile.h"

#include <QByteArray>

#include <fstream>
#include <memory>

std::vector<std::string> FuzzSeeds()
{
    AppleDoubleFile sidecar("/nonexistent/file");
    sidecar.setFinderInfo(FOUR_CHAR_CODE("AIFF"), FOUR_CHAR_CODE("Qmch"), 0x4000);
    const QByteArray finder = sidecar.Serialize();
    sidecar.setResourceFork(QByteArray(300, '\0'));
    const QByteArray both = sidecar.Serialize();
    return {std::string(finder.constData(), std::size_t(finder.size())),
            std::string(both.constData(), std::size_t(both.size()))};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool started = [] {
        EngineStartup::registerFileTypes();
        EngineStartup::buildFileTypeTable();
        return true;
    }();
    (void)started;
    const std::string image = AIFFFuzzImage(false, "", 16, 2, 5);
    const std::string path =
        FuzzWriteInput(reinterpret_cast<const uint8_t*>(image.data()), image.size(), ".aif");
    const std::string folder = path.substr(0, path.rfind('/'));
    {
        std::ofstream sidecar(folder + "/._input.aif", std::ios::binary | std::ios::trunc);
        sidecar.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    const ZuSoundFile model(QString::fromStdString(path));
    (void)model.name();
    OSErr error = noErr;
    std::unique_ptr<CSoundFile> file(model.createSoundFile(&error));
    if (file && file->Open() == noErr) {
        std::vector<double> samples(std::size_t(file->GetNumChannels()) * 8);
        UInt32 count = 5;
        if (file->GetNumChannels() > 0 && file->GetNumChannels() <= 8)
            (void)file->ReadFrames(0, &count, samples.data());
        file->Close();
    }
    return 0;
}
