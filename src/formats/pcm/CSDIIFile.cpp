#include "CSDIIFile.h"

#include "ByteOrder.h"
#include "FileManager.h"
#include "MemoryManager.h"
#include "ResourceManager.h"
#include "SDIIFileTypes.h"
#include "SoundFileFactories.h"
#include "SoundFileSwitches.h"
#include "ZuResourceFile.h"
#include "debug_trace.h"
#include "error_code_exception.h"
#include "format_helpers.h"
#include "throw_helpers.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

constexpr ResType kMarkerListType = FOUR_CHAR_CODE("sdML");
constexpr ResType kLoopListType = FOUR_CHAR_CODE("sdLL");
constexpr ResType kRegionListType = FOUR_CHAR_CODE("ddRL");
constexpr SInt16 kListID = 1000;
constexpr SInt16 kSampleSizeID = 1000;
constexpr SInt16 kSampleRateID = 1001;
constexpr SInt16 kChannelsID = 1002;

constexpr std::size_t kMarkerHeaderBytes = 8;
constexpr std::size_t kMarkerFixedBytes = 20;
constexpr std::size_t kMarkerRecordMax = 52;
constexpr std::size_t kLoopHeaderBytes = 8;
constexpr std::size_t kLoopRecordBytes = 14;
constexpr std::size_t kRegionHeaderBytes = 18;
constexpr std::size_t kRegionRecordBytes = 56;

constexpr UInt16 kMarkerTag1 = 0x5F6E;
constexpr UInt16 kMarkerTag2 = 0x0BC4;
constexpr UInt16 kLoopForward = 0x0075;  // 'u'
constexpr UInt16 kLoopOther = 0x0076;    // 'v'

// Largest sample block (bytes) a file's shape may ask for.
constexpr UInt64 kMaxBlockBytes = UInt64(16) << 20;

// A zero-filled handle; thrown when it cannot be had.
Handle NewClearHandleOrThrow(std::size_t bytes)
{
    Handle h = NewHandleClear(Size(bytes));
    if (!h) {
        const OSErr err = MemError();
        THROW_IF_ERROR(err ? err : memFullErr);
    }
    return h;
}

// The leading number of `text`: blanks skipped, an optional sign, digits
// and (with `fraction`) a fraction and an exponent.
QString LeadingNumber(const QString& text, bool fraction)
{
    const QByteArray bytes = text.toLatin1();
    int i = 0;
    const int n = int(bytes.size());
    while (i < n && (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\n' || bytes[i] == '\r'))
        ++i;
    const int begin = i;
    if (i < n && (bytes[i] == '+' || bytes[i] == '-'))
        ++i;
    int digits = 0;
    while (i < n && bytes[i] >= '0' && bytes[i] <= '9') {
        ++i;
        ++digits;
    }
    if (fraction && i < n && bytes[i] == '.') {
        ++i;
        while (i < n && bytes[i] >= '0' && bytes[i] <= '9') {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return QString();
    if (fraction && i < n && (bytes[i] == 'e' || bytes[i] == 'E')) {
        int j = i + 1;
        if (j < n && (bytes[j] == '+' || bytes[j] == '-'))
            ++j;
        const int expStart = j;
        while (j < n && bytes[j] >= '0' && bytes[j] <= '9')
            ++j;
        if (j > expStart)
            i = j;
    }
    return QString::fromLatin1(bytes.mid(begin, i - begin));
}

} // namespace

SInt32 SDIITextIntValue(const QString& text)
{
    const QString number = LeadingNumber(text, false);
    if (number.isEmpty())
        return 0;
    // Saturates like the string's intValue.
    bool ok = false;
    const qlonglong value = number.toLongLong(&ok);
    if (!ok)
        return number.startsWith(QLatin1Char('-')) ? INT32_MIN : INT32_MAX;
    return SInt32(std::clamp<qlonglong>(value, INT32_MIN, INT32_MAX));
}

double SDIITextDoubleValue(const QString& text)
{
    // No number (an empty string) does not convert either: 0.
    bool ok = false;
    const double value = LeadingNumber(text, true).toDouble(&ok);
    return ok ? value : 0.0;
}

SInt32 GetSDIINumChannels(const std::string& path)
{
    ZuResourceFile resources(path, true);
    return SDIITextIntValue(resources.GetStringResource(kChannelsID));
}

// ======================================================== construction
CSDIIFile::CSDIIFile() : CSDIIFile(FOUR_CHAR_CODE("Sd2f"), "SoundDesigner II") {}

CSDIIFile::CSDIIFile(OSType fileType, const char* formatName) : CLinearPCMFile(fileType, formatName)
{
    m_splitSuffix = "(.L/.R)";
}

CSDIIFile::~CSDIIFile()
{
    if (m_isOpen && CSDIIFile::Close() != noErr && m_isOpen) {
        // The retry failed too: the data fork must not stay open.
        CloseDataFork();
    }
}


std::unique_ptr<ZuResourceFile> CSDIIFile::MakeResourceFile() const
{
    return MakeResourceFork(m_fsRef, m_fsRefValid, m_path);
}

template <typename Parse>
OSErr CSDIIFile::ReadListResource(ResType type, const char* what, Parse&& parse)
{
    try {
        std::unique_ptr<ZuResourceFile> resources = MakeResourceFile();
        HandleOwner list(resources->GetResource(type, kListID));
        if (!list.h)
            return noErr;
        parse(list.data(), list.size());
        return noErr;
    } catch (const error_code_exception& e) {
        QM_TRACE(what, m_path << ": " << e.what());
        return NarrowError(e.code());
    }
}

template <typename Fill>
OSErr CSDIIFile::WriteListResource(ResType type, std::size_t bytes, Fill&& fill)
{
    try {
        HandleOwner list(NewClearHandleOrThrow(bytes));
        fill(list);
        std::unique_ptr<ZuResourceFile> resources = MakeResourceFile();
        resources->PutResource(type, kListID, list.h, QString());
        return noErr;
    } catch (const error_code_exception& e) {
        return NarrowError(e.code());
    }
}

OSErr CSDIIFile::CloseDataFork()
{
    const OSErr err = FSClose(m_refNum);
    m_refNum = 0;
    m_isOpen = false;
    m_writable = false;
    m_headerDirty = false;
    return err;
}

// ================================================================ open
OSErr CSDIIFile::Open()
{
    if (m_isOpen)
        return opWrErr;
    try {
        THROW_IF_ERROR(FSpOpenDF(&m_fsSpec, fsRdPerm, &m_refNum), "Open: data fork");
        m_isOpen = true;
        m_headerDirty = false;
        if (!m_fsRefValid)
            RememberFSRef(m_fsSpec, &m_fsRef, &m_fsRefValid);
        THROW_IF_ERROR(ReadHeaderResources(), "Open: header resources");
        THROW_IF_ERROR(ReadMarkerResource(), "Open: markers");
        THROW_IF_ERROR(ReadLoopResource(), "Open: loops");
        SInt16 regions = 0;
        THROW_IF_ERROR(ReadRegionResource(&regions), "Open: regions");
        if (!GetSkipBadRegion())
            THROW_IF_ERROR(MakeRegionNamesUnique(), "Open: region names");
        m_sampleFormat = kSampleFormatBigEndian;
        ResetSamplerInfo();
        return noErr;
    } catch (const error_code_exception& e) {
        QM_TRACE("Open", "could not open " << m_path << ": " << e.what());
        if (m_isOpen)
            CloseDataFork();
        return NarrowError(e.code());
    }
}

OSErr CSDIIFile::ProbeHeader(SInt16* count)
{
    if (count)
        *count = 0;
    // An open data fork would be lost with the open flag.
    if (m_isOpen)
        return opWrErr;
    SInt16 local = 0;
    if (!count)
        count = &local;
    OSErr err = ReadHeaderResources();
    if (err == noErr)
        err = ReadRegionResource(count);
    if (err == noErr)
        err = ReadMarkerResource();
    if (err == noErr)
        err = ReadLoopResource();
    m_isOpen = false;
    return err;
}

OSErr CSDIIFile::ReadHeaderResources()
{
    try {
        std::unique_ptr<ZuResourceFile> resources = MakeResourceFile();
        const SInt32 sampleBytes = SDIITextIntValue(resources->GetStringResource(kSampleSizeID));
        const double rate = SDIITextDoubleValue(resources->GetStringResource(kSampleRateID));
        const SInt32 channels = SDIITextIntValue(resources->GetStringResource(kChannelsID));
        resources.reset();

        // A shape the samples cannot have is refused here, before anything
        // divides by it or sizes a buffer from it.
        if (sampleBytes < 1 || sampleBytes > 4)
            THROW_IF_ERROR(kSDIINoWordSizeErr);
        if (channels < 1 || UInt32(channels) > kSDIIMaxChannels)
            THROW_IF_ERROR(kSDIINoChannelsErr);
        if (!std::isfinite(rate) || rate <= 0.0)
            THROW_IF_ERROR(kSDIINoSampleRateErr);
        m_numBits = SInt16(sampleBytes * 8);
        m_sampleRate = rate;
        m_numChannels = UInt32(channels);
        if (channels == 1)
            SetChannelConfiguration(kChannelConfigMono);
        else if (channels == 2)
            SetChannelConfiguration(kChannelConfigStereo);

        const UInt64 frameBytes = UInt64(FileBytesPerFrame());
        CapBlockBytes(*this, frameBytes, kMaxBlockBytes);

        FSRef ref;
        THROW_IF_ERROR(FSpMakeFSRef(&m_fsSpec, &ref), "ReadHeaderResources: data fork");
        FSCatalogInfo info;
        THROW_IF_ERROR(FSGetCatalogInfo(&ref, kFSCatInfoDataSizes, &info, nullptr, nullptr, nullptr),
                       "ReadHeaderResources: data size");
        // The samples are the whole data fork: one that ends inside a frame
        // was cut short.
        SettleFramesFromData(info.dataLogicalSize, kDataToTheEnd, frameBytes);
        return noErr;
    } catch (const error_code_exception& e) {
        QM_TRACE("ReadHeaderResources", m_path << ": " << e.what());
        // No fork, or an empty one (a file copied without its "._"
        // sidecar): the file's own failure, named as such.
        const int32_t code = e.code();
        if (code == errFSForkNotFound || code == resFNotFound || code == eofErr)
            return kSDIINoForkErr;
        return NarrowError(code);
    }
}

OSErr CSDIIFile::ReadMarkerResource()
{
    if (!m_markers.isEmpty())
        return noErr;
    return ReadListResource(kMarkerListType, "ReadMarkerResource", [this](const UInt8* data, std::size_t size) {
        if (size < kMarkerHeaderBytes)
            THROW_IF_ERROR(kSDIIBadMarkerResourceErr);
        const SInt16 records = SInt16(ReadBE16(data + 6));
        UInt64 offset = kMarkerHeaderBytes;
        SInt16 typeOneCount = 0;
        for (SInt16 i = 0; i < records; ++i) {
            if (offset > size || size - offset < kMarkerFixedBytes)
                THROW_IF_ERROR(kSDIIBadMarkerResourceErr);
            const UInt8* record = data + offset;
            const UInt32 nameLength = ReadBE32(record + 16);
            const std::size_t shown = std::min<UInt32>(nameLength, 31);
            // The name's characters must lie inside the list too.
            if (size - offset - kMarkerFixedBytes < shown)
                THROW_IF_ERROR(kSDIIBadMarkerResourceErr);
            SFTMarker marker;
            marker.type = SInt16(ReadBE16(record));
            marker.pos = ReadBE32(record + 4);
            marker.markerID = SInt16(ReadBE16(record + 14));
            marker.name[0] = UInt8(shown);
            std::memcpy(marker.name + 1, record + kMarkerFixedBytes, shown);
            marker.number = marker.type == 1 ? typeOneCount++ : SInt16(0);
            THROW_IF_ERROR(AddMarker(&marker), "ReadMarkerResource: AddMarker");
            offset += kMarkerFixedBytes + UInt64(nameLength);
        }
    });
}

OSErr CSDIIFile::ReadLoopResource()
{
    if (!m_loops.isEmpty())
        return noErr;
    return ReadListResource(kLoopListType, "ReadLoopResource", [this](const UInt8* data, std::size_t size) {
        if (size < kLoopHeaderBytes)
            THROW_IF_ERROR(kSDIIBadLoopResourceErr);
        const SInt16 records = SInt16(ReadBE16(data + 6));
        for (SInt16 i = 0; i < records; ++i) {
            const std::size_t offset = kLoopHeaderBytes + std::size_t(i) * kLoopRecordBytes;
            if (offset + kLoopRecordBytes > size)
                THROW_IF_ERROR(kSDIIBadLoopResourceErr);
            const UInt8* record = data + offset;
            SFTLoop loop;
            loop.start = ReadBE32(record);
            loop.end = ReadBE32(record + 4);
            loop.loopID = SInt16(ReadBE16(record + 8));
            loop.type = ReadBE16(record + 10) == kLoopForward ? 1 : 2;
            THROW_IF_ERROR(AddLoop(&loop), "ReadLoopResource: AddLoop");
        }
    });
}

OSErr CSDIIFile::ReadRegionResource(SInt16* count)
{
    if (!m_regions.isEmpty())
        return noErr;
    SInt16 local = 0;
    if (!count)
        count = &local;
    try {
        std::unique_ptr<ZuResourceFile> resources = MakeResourceFile();
        HandleOwner list(resources->GetResource(kRegionListType, kListID));
        *count = 0;
        if (list.h) {
            const std::size_t size = list.size();
            const std::size_t records =
                size >= kRegionHeaderBytes ? (size - kRegionHeaderBytes) / kRegionRecordBytes : 0;
            *count = SInt16(std::min<std::size_t>(records, 0x7FFF));
            const UInt8* data = list.data();
            const bool ignoreWhole = GetIgnoreRegionsContainingWholeFile();
            for (std::size_t i = 0; i < records; ++i) {
                const UInt8* record = data + kRegionHeaderBytes + i * kRegionRecordBytes;
                SFTRegion region;
                region.regionID = SInt32(ReadBE32(record));
                SInt32 start = SInt32(ReadBE32(record + 4));
                UInt32 end = ReadBE32(record + 8);
                region.syncFrame = ReadBE32(record + 12);
                const UInt32 stamp = ReadBE32(record + 16);
                region.timeStamp = SInt64(SInt32(stamp));
                const UInt8 nameLength = std::min<UInt8>(record[24], 31);
                region.name[0] = nameLength;
                std::memcpy(region.name + 1, record + 25, nameLength);
                if (i == 0)
                    SetTimeStamp(stamp);
                if (ignoreWhole) {
                    if (start == 0 && end == m_numFrames)
                        continue;
                } else if (start < 0) {
                    start = 0;
                    end = m_numFrames;
                    SetTimeStamp(stamp);
                }
                // A region past the end of the samples: the data fork was cut.
                if (start >= 0 && UInt32(start) <= end && end > m_numFrames)
                    m_dataCutShort = true;
                if (start < 0 || UInt32(start) > end || end > m_numFrames)
                    continue;
                region.start = UInt32(start);
                region.end = end;
                THROW_IF_ERROR(AddRegion(&region), "ReadRegionResource: AddRegion");
            }
        }
        // A file whose regions were all left out (its whole-file region)
        // still reads with the whole-file region.
        if (m_regions.isEmpty() && GetProcessFileIfNoRegions())
            THROW_IF_ERROR(AddFileRegion(), "ReadRegionResource: file region");
        return noErr;
    } catch (const error_code_exception& e) {
        QM_TRACE("ReadRegionResource", m_path << ": " << e.what());
        return NarrowError(e.code());
    }
}

// ============================================================== create
OSErr CSDIIFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                        ConstStr255Param nameExtension, float sampleRate)
{
    if (m_isOpen)
        return opWrErr;
    // What the format cannot hold is refused for this file only.
    if (numChannels < 1 || numChannels > kSDIIMaxChannels)
        return kIncompatibleChannelsErr;
    if (numBits < 1 || numBits > 32)
        return kUnsupportedWordSizeErr;
    if (!std::isfinite(sampleRate) || sampleRate <= 0.0f)
        return kIncompatibleSampleRateErr;
    CSoundFile::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);

    // The data fork is made exclusively: an existing file is never taken over.
    OSErr err = FSpCreate(&m_fsSpec, GetHFSCreator(), GetHFSFileType(), smSystemScript);
    if (err)
        return err;
    FSpCreateResFile(&m_fsSpec, GetHFSCreator(), GetHFSFileType(), smRoman);
    err = ResError();
    if (err)
        return err;
    err = FSpOpenDF(&m_fsSpec, fsRdWrPerm, &m_refNum);
    if (err)
        return err;
    RememberFSRef(m_fsSpec, &m_fsRef, &m_fsRefValid);
    m_sampleFormat = kSampleFormatBigEndian;
    // Words that are not whole bytes are stored in whole bytes.
    SetNewFileShape(numChannels, SInt16(((numBits + 7) / 8) * 8), sampleRate);
    PlaceChannels();
    m_headerDirty = true;
    m_isOpen = true;
    m_writable = true;
    ResetSamplerInfo();
    CapBlockBytes(*this, UInt64(FileBytesPerFrame()), kMaxBlockBytes);
    return noErr;
}

// =============================================================== close
OSErr CSDIIFile::Close()
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    try {
        if (m_headerDirty) {
            THROW_IF_ERROR(RememberFSRef(m_fsSpec, &m_fsRef, &m_fsRefValid), "Close: FSRef");
            THROW_IF_ERROR(WriteHeaderResources(), "Close: header resources");
            THROW_IF_ERROR(WriteMarkerResource(), "Close: markers");
            THROW_IF_ERROR(WriteLoopResource(), "Close: loops");
            THROW_IF_ERROR(WriteRegionResource(), "Close: regions");
        }
        THROW_IF_ERROR(FSClose(m_refNum), "Close: data fork");
        m_refNum = 0;
        m_headerDirty = false;
        m_isOpen = false;
        m_writable = false;
        return noErr;
    } catch (const error_code_exception& e) {
        QM_TRACE("Close", m_path << ": " << e.what());
        return NarrowError(e.code());
    }
}

OSErr CSDIIFile::WriteHeaderResources()
{
    try {
        std::unique_ptr<ZuResourceFile> resources = MakeResourceFile();
        resources->PutStringResource(QString::asprintf("%d", int(BitsToBytes(m_numBits))), kSampleSizeID,
                                    QStringLiteral("sample-size"));
        resources->PutStringResource(QString::asprintf("%f", m_sampleRate), kSampleRateID,
                                    QStringLiteral("sample-rate"));
        resources->PutStringResource(QString::asprintf("%d", int(m_numChannels)), kChannelsID,
                                    QStringLiteral("channels"));
        return noErr;
    } catch (const error_code_exception& e) {
        return NarrowError(e.code());
    }
}

OSErr CSDIIFile::WriteMarkerResource()
{
    // The list's count is a signed 16-bit field.
    const UInt16 n = std::min<UInt16>(GetNumMarkers(), 0x7FFF);
    return WriteListResource(kMarkerListType, kMarkerRecordMax * n + kMarkerHeaderBytes, [&](HandleOwner& list) {
        UInt8* data = list.bytes();
        WriteBE16(data, 1);
        WriteBE32(data + 2, 0);
        WriteBE16(data + 6, n);
        std::size_t offset = kMarkerHeaderBytes;
        for (UInt16 i = 0; i < n; ++i) {
            SFTMarker marker;
            THROW_IF_ERROR(GetMarker(i, &marker), "WriteMarkerResource: GetMarker");
            const UInt16 type = (marker.type == 1 || marker.type == 2) ? UInt16(marker.type) : 2;
            const UInt8 nameLength = std::min<UInt8>(marker.name[0], 31);
            UInt8* record = data + offset;
            WriteBE16(record, type);
            WriteBE16(record + 2, type);
            WriteBE32(record + 4, marker.pos);
            WriteBE16(record + 12, type == 1 ? kMarkerTag1 : kMarkerTag2);
            WriteBE16(record + 14, UInt16(marker.markerID));
            WriteBE32(record + 16, nameLength);
            std::memcpy(record + kMarkerFixedBytes, marker.name + 1, nameLength);
            offset += kMarkerFixedBytes + nameLength;
        }
        SetHandleSize(list.h, Size(offset));
        THROW_IF_ERROR(MemError(), "WriteMarkerResource: size");
    });
}

OSErr CSDIIFile::WriteLoopResource()
{
    const UInt16 n = std::min<UInt16>(GetNumLoops(), 0x7FFF);
    return WriteListResource(kLoopListType, kLoopRecordBytes * n + kLoopHeaderBytes, [&](HandleOwner& list) {
        UInt8* data = list.bytes();
        WriteBE16(data, 1);
        WriteBE16(data + 6, n);
        for (UInt16 i = 0; i < n; ++i) {
            SFTLoop loop;
            THROW_IF_ERROR(GetLoop(i, &loop), "WriteLoopResource: GetLoop");
            UInt8* record = data + kLoopHeaderBytes + std::size_t(i) * kLoopRecordBytes;
            WriteBE32(record, loop.start);
            WriteBE32(record + 4, loop.end);
            WriteBE16(record + 8, UInt16(i + 1));
            WriteBE16(record + 10, loop.type == 1 ? kLoopForward : kLoopOther);
        }
    });
}

OSErr CSDIIFile::WriteRegionResource()
{
    const UInt16 n = GetNumRegions();
    return WriteListResource(kRegionListType, kRegionRecordBytes * n + kRegionHeaderBytes, [&](HandleOwner& list) {
        UInt8* data = list.bytes();
        WriteBE16(data, 1);
        WriteBE32(data + 2, 12);
        WriteBE32(data + 6, UInt32(kRegionRecordBytes));
        WriteBE32(data + 10, 0);
        WriteBE32(data + 14, UInt32(n) + 1);
        for (UInt16 i = 0; i < n; ++i) {
            SFTRegion region;
            THROW_IF_ERROR(GetRegion(i, &region), "WriteRegionResource: GetRegion");
            UInt8* record = data + kRegionHeaderBytes + std::size_t(i) * kRegionRecordBytes;
            const UInt32 stamp = (i == 0 && HasTimeStamp()) ? GetTimeStamp() : UInt32(region.timeStamp);
            WriteBE32(record, UInt32(region.regionID));
            WriteBE32(record + 4, region.start);
            WriteBE32(record + 8, region.end);
            WriteBE32(record + 12, region.syncFrame);
            WriteBE32(record + 16, stamp);
            WriteBE32(record + 20, stamp);
            const UInt8 nameLength = std::min<UInt8>(region.name[0], 31);
            record[24] = nameLength;
            std::memcpy(record + 25, region.name + 1, nameLength);
        }
    });
}

// ========================================================== sample I/O
OSErr CSDIIFile::CheckWriteExtent(UInt64 endFrame) const
{
    return endFrame > 0xFFFFFFFFull ? paramErr : noErr;
}

SoundFileTypeDescriptor CSDIIFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("Sd2f"),
            .factory = &MakeSoundFile<CSDIIFile>,
            .probe = &ProbeSDIIChannels,
            .setMember = true};
}
