#include "CImageDATFile.h"
#include "SoundFileFactories.h"
#include "pcm_bytes.h"

#include "FileManager.h"
#include "FolderListing.h"
#include "MacRoman.h"
#include "ZuFiles.h"
#include "error_code_exception.h"
#include "error_codes.h"

#include <QString>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr SInt64 kBytesPerFrame = 4;
constexpr std::size_t kRecordBytes = 64;
const char* const kDescriptorNames[] = {"SD", "PQ_DESCR", "PQDESCR.txt", "DDPPQ"};

// Two ASCII digits; a space counts as '0', anything else too.
int TwoDigits(const UInt8* text)
{
    int value = 0;
    for (int i = 0; i < 2; ++i) {
        const UInt8 c = text[i];
        value = value * 10 + (c >= '0' && c <= '9' ? c - '0' : 0);
    }
    return value;
}

UInt32 SaturatedFrame(UInt64 frame)
{
    return UInt32(std::min<UInt64>(frame, std::numeric_limits<UInt32>::max()));
}

} // namespace

CImageDATFile::CImageDATFile() : CLinearPCMFile(kImageDATFileType, "Audio CD Image File")
{
    m_noMemoryErr = kCouldNotCreatePointerErr;
}

CImageDATFile::~CImageDATFile()
{
    if (m_isOpen) {
        Close();
    }
}

void CImageDATFile::SetImageProperties()
{
    m_numChannels = 2;
    m_numBits = 16;
    m_sampleFormat = kSampleFormatLittleEndian;
    m_sampleRate = kImageDATSampleRate;
    m_dataOffset = 0;
    m_transform = SampleTransform{};
    m_transform.swapPairs = true;
}

// ============================================================ descriptor

CImageDATFile::PQRecord CImageDATFile::ParsePQRecord(const UInt8* record)
{
    PQRecord out;
    if (std::memcmp(record, "VVVS", 4) != 0) {
        return out;
    }
    out.valid = true;
    out.trackChars[0] = char(record[4]);
    out.trackChars[1] = char(record[5]);
    out.track = record[4] == 'A' ? -1 : TwoDigits(record + 4);
    out.index = TwoDigits(record + 6);
    const UInt64 hours = UInt64(TwoDigits(record + 8));
    const UInt64 minutes = UInt64(TwoDigits(record + 10));
    const UInt64 seconds = UInt64(TwoDigits(record + 12));
    const UInt64 frames = UInt64(TwoDigits(record + 14));
    out.cdFrame = hours * 270000 + minutes * 4500 + seconds * 75 + frames;
    return out;
}

OSErr CImageDATFile::OpenDescriptor(SInt16* refNum) const
{
    FSSpec image;
    GetFSSpec(&image);
    for (const char* name : kDescriptorNames) {
        std::string stored;
        OSErr err = FindNameCaseInsensitive(image.parent, name, &stored);
        if (err == fnfErr) {
            continue;
        }
        if (err != noErr) {
            return err;
        }
        FSSpec spec;
        err = FSMakeFSSpec(image.parent, stored, &spec);
        if (err == noErr) {
            err = FSpOpenDF(&spec, fsRdPerm, refNum);
        }
        if (err != fnfErr) {
            return err;
        }
    }
    return fnfErr;
}

template <typename Visit>
OSErr CImageDATFile::ScanDescriptor(Visit&& visit) const
{
    SInt16 refNum = 0;
    OSErr err = OpenDescriptor(&refNum);
    if (err != noErr) {
        return err;
    }
    UInt8 record[kRecordBytes];
    for (;;) {
        long count = long(sizeof record);
        const OSErr readErr = FSRead(refNum, &count, record);
        if (readErr != noErr || count != long(sizeof record)) {
            if (readErr != eofErr) {
                err = readErr;
            }
            break;
        }
        const PQRecord parsed = ParsePQRecord(record);
        if (parsed.valid) {
            visit(parsed);
        }
    }
    const OSErr closeErr = FSClose(refNum);
    return err != noErr ? err : closeErr;
}

OSErr CImageDATFile::ReadDescriptor()
{
    const UInt64 samplesPerCDFrame = UInt64(m_sampleRate / 75.0);
    int currentTrack = -1;
    SInt32 counter = 0;
    UInt64 start = 0;
    char nameChars[2] = {'0', '0'};
    OSErr result = noErr;
    const OSErr scanErr = ScanDescriptor([&](const PQRecord& record) {
        const UInt64 position = record.cdFrame * samplesPerCDFrame;
        if (record.track != currentTrack) {
            const UInt64 end = position;
            const bool inside = start < end && start < m_numFrames;
            if ((start != 0 || end != 0) && inside) {
                SFTRegion region;
                region.regionID = ++counter;
                region.start = SaturatedFrame(start);
                region.end = SaturatedFrame(end);
                region.syncFrame = 0;
                region.timeStamp = 0;
                const QString name = QStringLiteral("Track ") + MacRoman::toUnicode(nameChars, 2);
                MacRoman::toPascal(name, region.name, 31);
                result = AddRegion(&region);
            }
            currentTrack = record.track;
        }
        if (record.index == 1) {
            start = position;
            nameChars[0] = record.trackChars[0];
            nameChars[1] = record.trackChars[1];
        }
    });
    return scanErr != noErr ? scanErr : result;
}

// ================================================================ open

OSErr CImageDATFile::ReadHeader()
{
    SetImageProperties();
    // The samples are the whole file: one that ends inside a frame was cut short.
    return Guarded([&]() -> OSErr {
        SettleFramesFromData(UInt64(FileLength()), kDataToTheEnd, UInt64(kBytesPerFrame));
        return noErr;
    });
}

OSErr CImageDATFile::AfterOpen()
{
    (void)Guarded([&]() { return ReadDescriptor(); }, kCouldNotCreatePointerErr);
    return AddFileRegion();
}

OSErr CImageDATFile::ProbeHeader(SInt16* result)
{
    int lastTrack = 0;
    const OSErr err = ProbeWith(result, [&]() -> OSErr {
        SetImageProperties();
        const OSErr scanErr = Guarded(
            [&]() {
                return ScanDescriptor([&](const PQRecord& record) {
                    if (record.track >= 0) {
                        lastTrack = record.track;
                    }
                });
            },
            kCouldNotCreatePointerErr);
        return scanErr == fnfErr ? noErr : scanErr;
    });
    if (result) {
        *result = SInt16(lastTrack);
    }
    return err;
}

// ============================================================== create

OSErr CImageDATFile::CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const
{
    // An image holds CD audio only: anything else would read back wrong.
    if (step == CreateStep::AfterBase &&
        (numChannels != 2 || numBits != 16 || double(sampleRate) != kImageDATSampleRate)) {
        return kCDTrackCreateErr;  // this file only
    }
    return noErr;
}

OSErr CImageDATFile::SetUpNewFile(const UInt8*)
{
    SetImageProperties();
    return noErr;
}

OSErr CImageDATFile::RewriteHeader()
{
    // The image ends with its last frame.
    return SetEOF(m_refNum, SInt64(m_numFrames) * kBytesPerFrame);
}

SoundFileTypeDescriptor CImageDATFile::Descriptor()
{
    return {.type = kImageDATFileType, .factory = &MakeSoundFileNoThrow<CImageDATFile>};
}
