#include "CSoundFile.h"


#include "ChannelArrangement.h"
#include "CreateSoundFile.h"
#include "CreatedFilesList.h"
#include "DitherTable.h"
#include "ExtraInfoRegistry.h"
#include "MacRoman.h"
#include "MainBundle.h"
#include "SoundFileSwitches.h"
#include "ThreadDictionary.h"
#include "debug_trace.h"
#include "progress_channel.h"
#include "error_code_exception.h"
#include "throw_helpers.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// ============================================================== helpers
namespace {

// Truncation toward zero, saturating at the 32-bit limits; not-a-number gives 0.
inline SInt32 SaturateToInt32(double value)
{
    if (!(value == value))
        return 0;
    if (value >= 2147483647.0)
        return std::numeric_limits<SInt32>::max();
    if (value <= -2147483648.0)
        return std::numeric_limits<SInt32>::min();
    return SInt32(value);
}

inline SInt32 Clamp(SInt64 value, SInt32 low, SInt32 high)
{
    return value < low ? low : (value > high ? high : SInt32(value));
}

// ------------------------------------------ loading and storing samples
// The block is big-endian.  Kind: 1, 2, 3, 4 bytes; 5 = 24 bits in the low
// three bytes of a 32-bit word (sample-format code 146); 0 = a word length
// the base does not convert.
inline SInt32 Load8(const UInt8* p)
{
    return SInt8(p[0]);
}
inline SInt32 Load16(const UInt8* p)
{
    return SInt16(UInt16((UInt16(p[0]) << 8) | p[1]));
}
inline SInt32 Load24(const UInt8* p)
{
    return SInt32(UInt24ToUInt32(p));
}
inline SInt32 Load32(const UInt8* p)
{
    return SInt32((UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | UInt32(p[3]));
}
inline SInt32 Load24In32(const UInt8* p)
{
    return SInt32(UInt32(Load32(p)) << 8);
}
inline void Store16(UInt8* p, SInt32 v)
{
    p[0] = UInt8(UInt32(v) >> 8);
    p[1] = UInt8(v);
}
inline void Store32(UInt8* p, SInt32 v)
{
    p[0] = UInt8(UInt32(v) >> 24);
    p[1] = UInt8(UInt32(v) >> 16);
    p[2] = UInt8(UInt32(v) >> 8);
    p[3] = UInt8(v);
}

template <int Kind>
constexpr int KindBytes()
{
    return Kind == 5 ? 4 : Kind;
}

template <int Kind>
inline SInt32 LoadSample(const UInt8* p)
{
    if constexpr (Kind == 1)
        return Load8(p);
    else if constexpr (Kind == 2)
        return Load16(p);
    else if constexpr (Kind == 3)
        return Load24(p);
    else if constexpr (Kind == 4)
        return Load32(p);
    else if constexpr (Kind == 5)
        return Load24In32(p);
    else
        return 0;
}

// The double value of a sample.
template <int Kind>
inline double SampleToDouble(const UInt8* p)
{
    if constexpr (Kind == 1)
        return double(Load8(p)) * kScale8;
    else if constexpr (Kind == 2)
        return double(Load16(p)) * kScale16;
    else if constexpr (Kind == 0)
        return 0.0;
    else
        return double(LoadSample<Kind>(p)) * kScale32;
}

// The float value: the integer rounded to single precision, multiplied by
// the scale in double precision, the product rounded to single precision;
// 8-bit samples are multiplied in single precision.
template <int Kind>
inline float SampleToFloat(const UInt8* p)
{
    if constexpr (Kind == 1)
        return float(Load8(p)) * 0.0078125f;
    else if constexpr (Kind == 2)
        return float(double(float(Load16(p))) * kScale16);
    else if constexpr (Kind == 0)
        return 0.0f;
    else
        return float(double(float(LoadSample<Kind>(p))) * kScale32);
}

template <typename T, int Kind>
inline T SampleTo(const UInt8* p)
{
    if constexpr (std::is_same_v<T, float>)
        return SampleToFloat<Kind>(p);
    else
        return SampleToDouble<Kind>(p);
}

// Calls f with the kind of the block's samples as a compile-time constant,
// so that the per-sample loops carry no decisions.
template <typename F>
void DispatchKind(int bytes, bool is24In32, F&& f)
{
    switch (bytes) {
    case 1: f(std::integral_constant<int, 1>{}); break;
    case 2: f(std::integral_constant<int, 2>{}); break;
    case 3: f(std::integral_constant<int, 3>{}); break;
    case 4:
        if (is24In32)
            f(std::integral_constant<int, 5>{});
        else
            f(std::integral_constant<int, 4>{});
        break;
    default: f(std::integral_constant<int, 0>{}); break;
    }
}

// How many entries a list holds, as the 16-bit count the interface reports.
template <typename T>
UInt16 CountOf(const QList<T>& list)
{
    return UInt16(std::min<qsizetype>(list.size(), 0xFFFF));
}

// Removes the first entry equal to `wanted`; `notFound` when there is none.
template <typename T>
OSErr RemoveFirstEqual(QList<T>& list, const T& wanted, OSErr notFound)
{
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list[i].isEqual(wanted)) {
            list.removeAt(i);
            return noErr;
        }
    }
    return notFound;
}

// A region record as held in the list: a negative start becomes 0 and the
// end stops at the last frame (when the frame count is known).
ZuRegion RegionFromRecord(const SFTRegion& region, UInt32 numFrames, const QString& name)
{
    const UInt32 start = SInt32(region.start) < 0 ? 0 : region.start;
    UInt32 end = region.end;
    if (numFrames > 0 && end > numFrames)
        end = numFrames;
    return ZuRegion(region.regionID, start, end, region.syncFrame, region.timeStamp, name);
}

// The step that RepairRegionNames announces.
void PostRepairStep()
{
    static const unsigned char kStep[] = "\x1c" "Looking for bad region names";
    static_assert(sizeof(kStep) == 1 + 28 + 1, "Pascal length byte matches the text");
    PostProgressStep(kStep, 0);
}

QString RegionNameFromPascal(const unsigned char* name, std::size_t fieldSize)
{
    return MacRoman::fromPascal(name, fieldSize);
}

// A four-character code from a property-list text ("abcd" or "'abcd'").
OSType CodeFromPropertyText(const QVariant& value)
{
    if (!value.isValid())
        return 0;
    QString text = value.toString();
    if (text.size() >= 2 && text.startsWith(QLatin1Char('\'')) && text.endsWith(QLatin1Char('\'')))
        text = text.mid(1, text.size() - 2);
    if (text.isEmpty())
        return 0;
    const QByteArray bytes = MacRoman::fromUnicode(text);
    return FourCharCodeFromString(std::string(bytes.constData(), std::size_t(bytes.size())));
}

std::string LastPathComponent(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char* kRegionNoName = "... no name ...";

// Paths at least this long (in bytes) are asked about even when their name
// was drawn at random: the system's limit (4096 with the closing zero on
// Linux) is well above it.
constexpr std::size_t kDrawnPathLimit = 4000;

} // namespace

// ======================================================= construction
OSErr CSoundFile::NarrowError(int32_t code)
{
    if (code == 0)
        return noErr;
    const OSErr narrow = OSErr(UInt16(UInt32(code) & 0xFFFF));
    return narrow == 0 ? ioErr : narrow;
}

CSoundFile::CSoundFile() : m_outputContext(OutputContextScope::Current()) {}

const OutputContext& CSoundFile::GetOutputContext() const
{
    return m_outputContext ? *m_outputContext : OutputContextScope::Empty();
}

CSoundFile::~CSoundFile()
{
    std::free(m_block);
    m_block = nullptr;
    m_readBuffer = nullptr;
    m_writeBuffer = nullptr;
    if (m_stream && m_stream->is_open())
        m_stream->close();
}

// ============================================================ identity
OSErr CSoundFile::SetFile(const FSSpec* spec)
{
    if (!spec)
        return paramErr;
    m_outputHFSType = GetHFSFileType();
    m_fsSpec = *spec;
    const OSErr nameErr = CheckFileName(spec->name);
    if (nameErr)
        return nameErr;

    // A name drawn at random is taken as not there, unless the path is so
    // long that the system might refuse it (that answer is then its own).
    const bool drawn = m_nameDrawnAtRandom && spec->parent.size() + spec->name.size() + 2 < kDrawnPathLimit;
    m_nameDrawnAtRandom = false;
    FSRef ref;
    OSErr err = drawn ? fnfErr : FSpMakeFSRef(spec, &ref);
    if (err == noErr) {
        std::string path;
        err = FSRefMakePath(&ref, &path);
        if (err)
            return err;
        m_fsRef = ref;
        m_fsRefValid = true;
        m_path = path;
        return noErr;
    }
    if (err != fnfErr)
        return err;

    // The file does not exist yet: the FSRef names its folder.
    FSRef folder;
    Boolean isDirectory = false;
    err = FSPathMakeRef(spec->parent, &folder, &isDirectory);
    if (err)
        return err == fnfErr ? dirNFErr : err;
    if (!isDirectory)
        return dirNFErr;
    m_fsRef = folder;
    m_fsRefValid = false;
    m_path = folder.path == "/" ? "/" + spec->name : folder.path + "/" + spec->name;
    return noErr;
}

OSErr CSoundFile::SetFile(const FSRef* ref)
{
    if (!ref)
        return paramErr;
    m_outputHFSType = GetHFSFileType();
    m_fsRef = *ref;
    std::string path;
    OSErr err = FSRefMakePath(ref, &path);
    if (err)
        return err;
    m_path = path;
    FSSpec spec;
    err = FSGetCatalogInfo(ref, kFSCatInfoNone, nullptr, nullptr, &spec, nullptr);
    m_fsRefValid = (err == noErr);
    if (err == noErr)
        m_fsSpec = spec;
    return err;
}

OSErr CSoundFile::SetFile(const std::string& path)
{
    try {
        return SetFileFromPath(path);
    } catch (const error_code_exception& e) {
        return NarrowError(e.code());
    }
}

OSErr CSoundFile::SetFileFromPath(const std::string& path)
{
    m_outputHFSType = GetHFSFileType();
    m_path = path;
    FSRef ref;
    Boolean isDirectory = false;
    OSErr err = FSPathMakeRef(path, &ref, &isDirectory);
    m_fsRefValid = (err == noErr);

    if (err != noErr) {
        // Not there (yet): FSSpec from the folder and the last component.
        const auto slash = path.rfind('/');
        const std::string folderPath =
            slash == std::string::npos ? std::string(".") : (slash == 0 ? std::string("/") : path.substr(0, slash));
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        FSRef folder;
        Boolean folderIsDirectory = false;
        THROW_IF_ERROR(FSPathMakeRef(folderPath, &folder, &folderIsDirectory), "SetFile: folder of the path");
        if (!folderIsDirectory)
            return dirNFErr;
        if (CheckFileName(name) != noErr)
            return fnfErr;
        m_fsRef = folder;
        m_fsSpec.parent = folder.path;
        m_fsSpec.name = name;
        return noErr;
    }

    if (isDirectory)
        return kUnknownFileFormatErr;
    m_fsRef = ref;
    FSSpec spec;
    THROW_IF_ERROR(FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, &spec, nullptr), "SetFile: FSSpec");
    m_fsSpec = spec;
    return noErr;
}

OSErr CSoundFile::SetFile(const std::vector<std::string>& paths)
{
    if (paths.empty())
        return paramErr;
    return SetFile(paths.front());
}

void CSoundFile::GetFSSpec(FSSpec* spec) const
{
    if (spec)
        *spec = m_fsSpec;
}

void CSoundFile::GetFSRef(FSRef* ref) const
{
    if (ref)
        *ref = m_fsRef;
}

namespace {

// `text` as a Pascal string into `name` (left as it is when it does not fit).
void PutPascalName(const std::string& text, StringPtr name)
{
    Str255 pascal;
    if (name && MacRoman::toPascal(QString::fromStdString(text), pascal, 255))
        std::memcpy(name, pascal, std::size_t(pascal[0]) + 1);
}

} // namespace

void CSoundFile::GetFileName(StringPtr name) const
{
    PutPascalName(m_fsSpec.name, name);
}

void CSoundFile::GetStoredFileName(StringPtr name) const
{
    PutPascalName(GetStoredFileNameString(), name);
}

std::string CSoundFile::GetStoredFileNameString() const
{
    const std::string& own = m_fsSpec.name;
    const std::string& baseName = GetOutputContext().baseName;
    if (baseName.empty())
        return WithoutTemporaryTag(own);
    return PublishedFileName(own, baseName);
}

std::string CSoundFile::GetFileNameString() const
{
    return LastPathComponent(m_path);
}

QString CSoundFile::GetName() const
{
    const QString name = QString::fromStdString(GetFileNameString());
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return name;
    const QString extension = name.mid(dot + 1).toLower();
    if (extension.isEmpty())
        return name;
    if (GetReadableTypes().contains(extension))
        return name.left(dot);
    // The type's own extensions, also those it only writes ("mix", "g726").
    const QVariantMap properties = GetSoundFileProperties();
    QStringList own = properties.value(QStringLiteral("extensions")).toStringList();
    own << properties.value(QStringLiteral("extension")).toString();
    for (const QString& candidate : own) {
        if (!candidate.isEmpty() && candidate.compare(extension, Qt::CaseInsensitive) == 0)
            return name.left(dot);
    }
    return name;
}

const std::string& CSoundFile::GetPath() const
{
    return m_path;
}

std::fstream& CSoundFile::GetStream()
{
    // Few files ever use it: made on demand rather than with every object.
    if (!m_stream)
        m_stream = std::make_unique<std::fstream>();
    return *m_stream;
}

OSErr CSoundFile::MakeNameWithExtension(ConstStr255Param extension)
{
    std::string name = LastPathComponent(m_path);
    QString ext = extension ? MacRoman::fromPascal(extension) : QString();
    if (ext.startsWith(QLatin1Char('.')))
        ext = ext.mid(1);
    if (ext.isEmpty())
        return noErr;
    const std::string extended = name + "." + ext.toStdString();
    if (CheckFileName(extended) != noErr)
        return kNameNotExtendedErr;
    m_fsSpec.name = extended;
    m_path += "." + ext.toStdString();
    return noErr;
}

OSErr CSoundFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                         const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension, float sampleRate)
{
    try {
        m_extensionGiven = nameExtension && nameExtension[0] > 0;
        if (m_extensionGiven) {
            m_createStatus = MakeNameWithExtension(nameExtension);
        } else {
            const QVariantMap properties = GetSoundFileProperties();
            const QVariant extension = properties.value(QStringLiteral("extension"));
            if (extension.isValid()) {
                Str255 pascal;
                MacRoman::toPascal(extension.toString(), pascal, 255);
                m_createStatus = MakeNameWithExtension(pascal);
            }
        }

        CreatedFilesListAdd(QString::fromStdString(m_fsSpec.name));

        const QVariant folderData = ThreadDictionary::current().value(QStringLiteral("ZuOutputFolderRef"));
        if (!folderData.isValid())
            return noErr;
        FSRef outputFolder;
        if (!FSRefDeserialize(folderData.toByteArray(), &outputFolder))
            return paramErr;
        FSCatalogInfo outputInfo;
        OSErr err = FSGetCatalogInfo(&outputFolder, kFSCatInfoNodeID | kFSCatInfoVolume, &outputInfo, nullptr,
                                     nullptr, nullptr);
        if (err)
            return err;

        FSRef folder;
        err = FSPathMakeRef(m_fsSpec.parent, &folder);
        if (err)
            return err;
        // Walk up from the file's folder to the output folder, gathering
        // the folder names; a file outside the output folder keeps its
        // bare name in the list.
        std::vector<HFSUniStr255> components;
        for (int depth = 0; depth < 4096; ++depth) {
            FSCatalogInfo info;
            HFSUniStr255 folderName;
            FSRef parent;
            err = FSGetCatalogInfo(&folder, kFSCatInfoNodeID | kFSCatInfoVolume, &info, &folderName, nullptr,
                                   &parent);
            if (err)
                return err;
            if (info.nodeID == outputInfo.nodeID && info.volume == outputInfo.volume) {
                for (const HFSUniStr255& component : components)
                    CreatedFilesListAppendComponent(component);
                return noErr;
            }
            if (FSRefsEqual(parent, folder) || parent.path.empty())
                break;
            components.push_back(folderName);
            folder = parent;
        }
        return noErr;
    } catch (const error_code_exception& e) {
        return NarrowError(e.code());
    }
}

QVariantMap CSoundFile::GetSoundFileProperties() const
{
    return ::GetSoundFileProperties(GetFileType());
}

OSType CSoundFile::GetKeptFileType() const
{
    return GetFileType();
}

OSType CSoundFile::GetHFSFileType() const
{
    return CodeFromPropertyText(GetSoundFileProperties().value(QStringLiteral("fileType")));
}

OSType CSoundFile::GetHFSCreator() const
{
    return CodeFromPropertyText(GetSoundFileProperties().value(QStringLiteral("creator")));
}

std::unique_ptr<QVariantMap> CSoundFile::GetExtraInfo()
{
    if (!m_fsRefValid) {
        QM_TRACE("GetExtraInfo", "want to read meta data, but there's no valid FSRef for " << GetFileNameString());
        return nullptr;
    }
    // The movie metadata (through the readers the format libraries
    // register); the audio-file info dictionary is not read here.
    auto info = std::make_unique<QVariantMap>();
    {
        exception_trace_guard quiet(false);
        ReadExtraInfo(m_path, info.get());
    }
    return info;
}

std::string CSoundFile::GetResourcePathString(const std::string& name)
{
    const QString path = MainBundle::pathForResource(QString::fromStdString(name), QString());
    if (path.isEmpty())
        throw error_code_exception(fnfErr, "resource %s not found (%s:%d)", name.c_str(),
                                   path_file_name(__FILE__), __LINE__);
    return path.toStdString();
}

OSErr CSoundFile::CloseAndDelete(Boolean success)
{
    m_closeAfterFailure = !success;
    OSErr result = m_createStatus;
    if (IsOpen()) {
        const OSErr err = Close();
        if (err)
            result = err;
    }
    delete this;
    return result;
}

// ========================================================= small answers
Boolean CSoundFile::UseBitRate() const { return false; }
UInt32 CSoundFile::GetNumFrames() const { return m_numFrames; }

Boolean CSoundFile::DataCutShort() const
{
    if (m_dataCutShort)
        return true;
    if (const std::vector<CSoundFile*>* members = GetSubFiles()) {
        for (const CSoundFile* member : *members)
            if (member && member->DataCutShort())
                return true;
    }
    return false;
}

SFTDecodeLoss CSoundFile::GetDecodeLoss() const
{
    SFTDecodeLoss loss = m_decodeLoss;
    if (const std::vector<CSoundFile*>* members = GetSubFiles()) {
        for (const CSoundFile* member : *members)
            if (member)
                loss += member->GetDecodeLoss();
    }
    return loss;
}

OSErr CSoundFile::CheckReadShape() const
{
    if (!(m_sampleRate >= 1.0 && m_sampleRate <= kMaxReadSampleRate))
        return kIncompatibleSampleRateErr;
    if (m_numChannels < 1 || m_numChannels > kMaxReadChannels)
        return kIncompatibleChannelsErr;
    if (m_dataHoldsNoFrame)
        return kDataHoldsNoFrameErr;
    if (const std::vector<CSoundFile*>* members = GetSubFiles()) {
        for (const CSoundFile* member : *members)
            if (const OSErr err = member ? member->CheckReadShape() : noErr)
                return err;
    }
    return noErr;
}

void CSoundFile::SettleFramesFromData(UInt64 presentBytes, UInt64 promisedBytes, UInt64 unitBytes, UInt32 unitFrames)
{
    const UInt64 unit = std::max<UInt64>(unitBytes, 1);
    const UInt64 perUnit = std::max<UInt32>(unitFrames, 1);
    const UInt64 bytes = std::min(presentBytes, promisedBytes);
    const UInt64 units = bytes / unit;
    m_numFrames = units >= 0xFFFFFFFFull / perUnit ? 0xFFFFFFFFu : UInt32(units * perUnit);
    m_dataCutShort = (promisedBytes != kDataToTheEnd && bytes < promisedBytes) || bytes % unit != 0;
    m_dataHoldsNoFrame = bytes > 0 && units == 0;
}
OSErr CSoundFile::PrepareRead(const FSSpec&) { return noErr; }
OSErr CSoundFile::WriteBlock(UInt32, UInt32) { return noErr; }

OSErr CSoundFile::PrepareWriteBlock(UInt32 frame, UInt32* heldOut)
{
    UInt32 held = 0;
    const OSErr err = LoadWrittenFrames(frame, &held);
    held = std::min(held, m_bufferFrames);
    if (m_writeBuffer) {
        // The block in the shape the writers fill it (WriteLoop), within
        // what was allocated when the block is the file's own.
        const std::size_t frameBytes = std::size_t(GetNumChannels()) * std::size_t(std::max<SInt16>(m_numBits, 0) / 8);
        std::size_t end = std::size_t(m_bufferFrames) * frameBytes;
        if (m_writeBuffer == m_block)
            end = std::min(end, m_blockBytes);
        const std::size_t from = std::min(std::size_t(held) * frameBytes, end);
        std::memset(m_writeBuffer + from, 0, end - from);
    }
    if (heldOut)
        *heldOut = held;
    return err;
}
OSErr CSoundFile::RecalcNumFrames() { return noErr; }
void CSoundFile::SetDither(Boolean dither) { m_dither = dither != 0; }
void CSoundFile::ClipCountSpan(UInt32 frame, UInt32 frames, std::size_t* from, std::size_t* to)
{
    *from = *to = 0;
    const UInt64 end = std::min({UInt64(frame) + frames, m_clipWindowTo, UInt64(frame) + m_readWanted});
    const UInt64 first = std::max({m_clipCountedTo, UInt64(frame), m_clipWindowFrom});
    if (first >= end)
        return;  // nothing taken that was not counted (a scan takes none)
    m_clipCountedTo = end;
    *from = std::size_t(first - frame) * GetNumChannels();
    *to = std::size_t(end - frame) * GetNumChannels();
}

OSErr CSoundFile::ReadBlockFor(UInt32 frame, UInt32 wanted)
{
    const UInt32 saved = m_readWanted;
    m_readWanted = wanted;
    const OSErr err = ReadBlock(frame);
    m_readWanted = saved;
    return err;
}

void CSoundFile::SetClipCountWindow(UInt32 from, UInt32 to)
{
    m_clipWindowFrom = from;
    m_clipWindowTo = std::max(from, to);
}

bool CSoundFile::HoldsFloatSamples() const
{
    // 130: AIFF-C's 64-bit floats.
    return m_sampleFormat == kSampleFormatFloatBE || m_sampleFormat == kSampleFormatFloatLE || m_sampleFormat == 130;
}
bool CSoundFile::GetRawSampleLayout(RawSampleLayout*) const { return false; }
OSErr CSoundFile::ReadRawFramesAs(const RawSampleLayout&, UInt32, UInt32, UInt8*, UInt32* filled, bool* made)
{
    *filled = 0;
    *made = false;
    return noErr;
}
OSErr CSoundFile::ReadRawFrames(UInt32, UInt8*, UInt32* filled)
{
    if (filled)
        *filled = 0;
    return paramErr;
}
OSErr CSoundFile::WriteRawFrames(const UInt8*, UInt32, UInt32) { return paramErr; }
void CSoundFile::SetSonicInfo(const UInt8*, const UInt8*, UInt32) {}
Boolean CSoundFile::NeedsEncodingOnClose() const { return false; }
Boolean CSoundFile::NeedsDecodingOnOpen() const { return false; }
Boolean CSoundFile::SupportsSplitChannels() const { return false; }
QString CSoundFile::GetSplitNamingSuffix() const { return QString(); }
QVariantMap& CSoundFile::GetSpecifics() { return m_specifics; }
Boolean CSoundFile::IsSplit() const { return false; }
Boolean CSoundFile::HasVideoTrack() const { return false; }
Boolean CSoundFile::IsOpen() const { return m_isOpen; }
SInt32 CSoundFile::GetChannelConfiguration() const { return m_channelConfiguration; }
void CSoundFile::SetChannelConfiguration(SInt32 configuration) { m_channelConfiguration = configuration; }
AudioChannelLayoutTag CSoundFile::GetMultichannelLayoutTag() const { return m_multichannelLayoutTag; }
const std::vector<CSoundFile*>* CSoundFile::GetSubFiles() const { return nullptr; }

UInt32 CSoundFile::GetTimeStamp() const { return UInt32(GetTimeStamp64() & 0xFFFFFFFFu); }
void CSoundFile::SetTimeStamp(UInt32 timeStamp) { SetTimeStamp64(timeStamp); }
Boolean CSoundFile::HasTimeStamp() const { return m_timeStampValid; }
UInt64 CSoundFile::GetTimeStamp64() const { return m_timeStamp; }
void CSoundFile::SetTimeStamp64(UInt64 timeStamp)
{
    m_timeStamp = timeStamp;
    m_timeStampValid = true;
}

OSErr CSoundFile::SetSampleRate(double rate)
{
    m_sampleRate = rate;
    m_headerDirty = true;
    return noErr;
}

Boolean CSoundFile::IsOneChannelDone() const
{
    debug_printf("SndFile", "IsOneChannelDone %s", m_oneChannelDone ? "yes" : "no");
    return m_oneChannelDone;
}

void CSoundFile::SetOneChannelDone(Boolean done)
{
    m_oneChannelDone = done != 0;
    debug_printf("SndFile", "SetOneChannelDone %s", m_oneChannelDone ? "yes" : "no");
}

UInt16 CSoundFile::GetBitRate()
{
    if (m_bitRate)
        return m_bitRate;
    const double bytes = (m_sampleFormat == kSampleFormatMuLaw || m_sampleFormat == kSampleFormatALaw)
                             ? 1.0
                             : double(m_numBits / 8);
    if (!(m_sampleRate > 0.0) || !std::isfinite(m_sampleRate) || m_numFrames == 0)
        return 0;
    const double duration = double(m_numFrames) / m_sampleRate;
    const double value = bytes * double(m_numFrames) * double(GetNumChannels()) / duration * 0.008 + 0.5;
    if (!(value >= 0.0))
        return 0;
    m_bitRate = value >= 65535.0 ? UInt16(65535) : UInt16(value);
    return m_bitRate;
}

void CSoundFile::GetAudioStreamBasicDescription(AudioStreamBasicDescription* asbd) const
{
    if (!asbd)
        return;
    const UInt32 bytesPerFrame = UInt32(GetNumChannels()) * UInt32(UInt16(m_numBits)) / 8;
    asbd->mSampleRate = m_sampleRate;
    asbd->mFormatID = kAudioFormatLinearPCM;
    asbd->mFormatFlags = kAudioFormatFlagIsBigEndian | kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    asbd->mBytesPerPacket = bytesPerFrame;
    asbd->mFramesPerPacket = 1;
    asbd->mBytesPerFrame = bytesPerFrame;
    asbd->mChannelsPerFrame = GetNumChannels();
    asbd->mBitsPerChannel = UInt32(UInt16(m_numBits));
    asbd->mReserved = 0;
}

SInt32 CSoundFile::GetChannelKind() const
{
    const UInt16 channels = GetNumChannels();
    return channels == 1 ? 1 : (channels == 2 ? 2 : 3);
}

QString CSoundFile::GetChannelDescription() const
{
    static const char* const kNames[] = {"mono", "stereo", "lcr", "quad", "lcrs", "5.0",
                                         "5.1", "6.0", "6.1", "7.1", "10.2", "multichannel"};
    QString text = QString::number(GetNumChannels()) + QStringLiteral(" (");
    if (m_channelConfiguration >= 0 && m_channelConfiguration <= 11)
        text += QLatin1String(kNames[m_channelConfiguration]);
    text += QLatin1Char(')');
    return text;
}

std::string CSoundFile::GetChannelName(UInt16 channel) const
{
    const UInt16 channels = GetNumChannels();
    if (channels < 2)
        return std::string();
    if (channels == 2)
        return channel == 0 ? "Left" : "Right";
    return std::to_string(unsigned(channel) + 1);
}

AudioChannelLayoutTag CSoundFile::MemoryLayoutTag() const
{
    const UInt32 channels = GetNumChannels();
    const SInt32 configuration = GetChannelConfiguration();
    const AudioChannelLayoutTag own = GetMultichannelLayoutTag();
    if (configuration == kChannelConfigMultichannel && own != 0 && (own & 0xFFFF) == (channels & 0xFFFF))
        return own;
    return LayoutTagForConfiguration(configuration, channels);
}

AudioChannelLayout* CSoundFile::CreateChannelLayout(UInt32* size) const
{
    const UInt32 channels = GetNumChannels();
    const UInt32 bytes = 12 + 20 * channels;
    if (size)
        *size = bytes;
    auto* layout = static_cast<AudioChannelLayout*>(
        std::calloc(1, std::max<std::size_t>(bytes, sizeof(AudioChannelLayout))));
    if (!layout)
        return nullptr;
    const AudioChannelLayoutTag tag = MemoryLayoutTag();
    layout->mChannelLayoutTag = tag;
    return layout;
}

// ============================================================= buffers
std::size_t CSoundFile::BlockBytes() const
{
    const std::size_t bytes =
        std::size_t(m_bufferFrames) * std::size_t(GetNumChannels()) * std::size_t(std::max<SInt16>(m_numBits, 0) / 8);
    return bytes ? bytes : 1;
}

UInt8* CSoundFile::AllocateBlock(std::size_t bytes)
{
    std::free(m_block);
    m_block = nullptr;
    m_blockBytes = 0;
    m_blockValidFrames = 0;
    void* block = std::calloc(1, bytes ? bytes : 1);
    THROW_IF_NULL(block, "sample block");
    m_block = static_cast<UInt8*>(block);
    m_blockBytes = bytes;
    return m_block;
}

OSErr CSoundFile::AllocateReadBuffer()
{
    try {
        const std::size_t needed = BlockBytes();
        if (m_readBuffer) {
            if (m_readBuffer != m_block || m_blockBytes >= needed)
                return noErr;
            m_readBuffer = AllocateBlock(needed);  // the shape grew
            return noErr;
        }
        if (m_writeBuffer == m_block && m_block && m_blockBytes >= needed) {
            m_readBuffer = m_writeBuffer;          // handed over, contents kept
            m_writeBuffer = nullptr;
            m_blockValidFrames = 0;
            return noErr;
        }
        m_writeBuffer = nullptr;
        m_readBuffer = AllocateBlock(needed);
        return noErr;
    } catch (const error_code_exception& e) {
        return NarrowError(e.code());
    }
}

OSErr CSoundFile::AllocateWriteBuffer()
{
    try {
        const std::size_t needed = BlockBytes();
        m_blockValidFrames = 0;
        if (m_writeBuffer) {
            if (m_writeBuffer != m_block || m_blockBytes >= needed)
                return noErr;
            m_writeBuffer = AllocateBlock(needed);
            return noErr;
        }
        if (m_readBuffer == m_block && m_block && m_blockBytes >= needed) {
            m_writeBuffer = m_readBuffer;          // handed over, cleared
            m_readBuffer = nullptr;
            std::memset(m_writeBuffer, 0, m_blockBytes);
            return noErr;
        }
        m_readBuffer = nullptr;
        m_writeBuffer = AllocateBlock(needed);
        return noErr;
    } catch (const error_code_exception& e) {
        return NarrowError(e.code());
    }
}

void CSoundFile::FreeBuffers()
{
    std::free(m_block);
    m_block = nullptr;
    m_blockBytes = 0;
    m_blockValidFrames = 0;
    m_readBuffer = nullptr;
    m_writeBuffer = nullptr;
}

OSErr CSoundFile::SetBufferFrames(UInt32 frames)
{
    if (frames == 0)
        return paramErr;
    if (frames != m_bufferFrames) {
        FreeBuffers();
        m_bufferFrames = frames;
    }
    return noErr;
}

Boolean CSoundFile::IsFrameInReadBuffer(UInt32 frame) const
{
    return m_readBuffer && m_readBufferStart <= frame && UInt64(frame) < UInt64(m_readBufferStart) + m_bufferFrames;
}

// ============================================================ reading
// The loop every reader runs: one ReadBlock per block, then `convert`
// (block, frames in it, frames delivered before it).  ReadBlock is skipped
// only when the base itself filled the buffer from this very frame and
// nothing has touched it since.
template <typename Convert>
OSErr CSoundFile::ReadLoop(UInt32 frame, UInt32* count, Convert&& convert)
{
    if (!count)
        return paramErr;
    OSErr result = AllocateReadBuffer();
    if (result)
        return result;
    const UInt64 end = std::min<UInt64>(UInt64(frame) + *count, m_numFrames);
    if (frame >= end) {
        *count = 0;
        return noErr;
    }
    if (GetNumChannels() == 0) {
        *count = 0;
        return paramErr;
    }
    UInt64 pos = frame;
    while (pos < end) {
        const UInt32 n = UInt32(std::min<UInt64>({UInt64(m_numFrames) - pos, m_bufferFrames, end - pos}));
        // (Read again too when this reader takes more of the block than
        // the last: its decoder counts clipping in what is taken.)
        const bool cached = m_readBuffer && m_readBuffer == m_block && m_blockValidFrames >= n &&
                            m_blockTakenFrames >= n && m_blockValidStart == pos && m_readBufferStart == pos;
        if (!cached) {
            // A format that tracks the read-buffer start sets it to `pos`;
            // only then does the base trust the buffer later.
            m_blockValidFrames = 0;
            m_readBufferStart = std::numeric_limits<UInt32>::max();  // pos never reaches it
            result = ReadBlockFor(UInt32(pos), n);
            if (result)
                break;
            if (!m_readBuffer) {
                result = paramErr;
                break;
            }
            if (m_readBuffer == m_block && m_readBufferStart == pos) {
                m_blockValidStart = UInt32(pos);
                m_blockTakenFrames = n;
                m_blockValidFrames = UInt32(std::min<UInt64>(UInt64(m_numFrames) - pos, m_bufferFrames));
            }
        }
        convert(static_cast<const UInt8*>(m_readBuffer), n, UInt64(pos - frame));
        pos += n;
    }
    *count = UInt32(pos - frame);
    return result;
}

OSErr CSoundFile::CheckFloatWordLength() const
{
    if (m_numBits == 8 || m_numBits == 16 || m_numBits == 24 || m_numBits == 32)
        return noErr;
    error_code_exception report(paramErr, "illegal word size (%ld) in sound file", long(m_numBits));
    (void)report;
    return paramErr;
}

// The readers for double and float output share these loops; T picks the
// conversion at compile time.
template <typename T>
OSErr CSoundFile::ReadInterleavedAs(UInt32 frame, UInt32* count, T* interleaved)
{
    const int bytes = m_numBits / 8;
    const bool is146 = m_sampleFormat == kSampleFormat24In32;
    const std::size_t channels = GetNumChannels();
    return ReadLoop(frame, count, [&](const UInt8* block, UInt32 n, UInt64 done) {
        T* out = interleaved + done * channels;
        const std::size_t samples = std::size_t(n) * channels;
        DispatchKind(bytes, is146, [&](auto kind) {
            constexpr int K = decltype(kind)::value;
            constexpr int step = KindBytes<K>();
            for (std::size_t i = 0; i < samples; ++i)
                out[i] = SampleTo<T, K>(block + i * step);
        });
    });
}

template <typename T>
OSErr CSoundFile::ReadChannelAs(UInt16 channel, UInt32 frame, UInt32* count, T* out)
{
    if (channel >= GetNumChannels()) {
        if (count)
            *count = 0;
        return paramErr;
    }
    const int bytes = m_numBits / 8;
    const bool is146 = m_sampleFormat == kSampleFormat24In32;
    const std::size_t channels = GetNumChannels();
    return ReadLoop(frame, count, [&](const UInt8* block, UInt32 n, UInt64 done) {
        T* dst = out + done;
        DispatchKind(bytes, is146, [&](auto kind) {
            constexpr int K = decltype(kind)::value;
            constexpr int step = KindBytes<K>();
            const UInt8* p = block + std::size_t(channel) * step;
            for (UInt32 i = 0; i < n; ++i, p += channels * step)
                dst[i] = SampleTo<T, K>(p);
        });
    });
}

template <typename T>
OSErr CSoundFile::ReadStereoAs(UInt32 frame, UInt32* count, T* left, T* right)
{
    const int bytes = m_numBits / 8;
    const bool is146 = m_sampleFormat == kSampleFormat24In32;
    const std::size_t channels = GetNumChannels();
    const std::size_t second = channels > 1 ? 1 : 0;
    return ReadLoop(frame, count, [&](const UInt8* block, UInt32 n, UInt64 done) {
        DispatchKind(bytes, is146, [&](auto kind) {
            constexpr int K = decltype(kind)::value;
            constexpr int step = KindBytes<K>();
            const UInt8* p = block;
            for (UInt32 i = 0; i < n; ++i, p += channels * step) {
                left[done + i] = SampleTo<T, K>(p);
                right[done + i] = SampleTo<T, K>(p + second * step);
            }
        });
    });
}

// The float readers refuse word lengths they cannot convert.
OSErr CSoundFile::CheckFloatRead(UInt32* count) const
{
    const OSErr err = CheckFloatWordLength();
    if (err && count)
        *count = 0;
    return err;
}

OSErr CSoundFile::ReadFrames(UInt32 frame, UInt32* count, double* interleaved)
{
    return ReadInterleavedAs(frame, count, interleaved);
}

OSErr CSoundFile::ReadChannelFrames(UInt16 channel, UInt32 frame, UInt32* count, double* out)
{
    return ReadChannelAs(channel, frame, count, out);
}

OSErr CSoundFile::ReadStereoFrames(UInt32 frame, UInt32* count, double* left, double* right)
{
    return ReadStereoAs(frame, count, left, right);
}

OSErr CSoundFile::ReadFrames(UInt32 frame, UInt32* count, float* left, float* right)
{
    return ReadStereoAs(frame, count, left, right);
}

OSErr CSoundFile::ReadFrames(UInt32 frame, UInt32* count, float* interleaved)
{
    if (const OSErr err = CheckFloatRead(count))
        return err;
    return ReadInterleavedAs(frame, count, interleaved);
}

OSErr CSoundFile::ReadChannelFrames(UInt16 channel, UInt32 frame, UInt32* count, float* out)
{
    if (const OSErr err = CheckFloatRead(count))
        return err;
    return ReadChannelAs(channel, frame, count, out);
}

OSErr CSoundFile::ReadFrames(UInt32 frame, UInt32* count, float** channelArrays)
{
    if (const OSErr err = CheckFloatRead(count))
        return err;
    if (!channelArrays)
        return paramErr;
    const int bytes = m_numBits / 8;
    const bool is146 = m_sampleFormat == kSampleFormat24In32;
    const std::size_t channels = GetNumChannels();
    return ReadLoop(frame, count, [&](const UInt8* block, UInt32 n, UInt64 done) {
        DispatchKind(bytes, is146, [&](auto kind) {
            constexpr int K = decltype(kind)::value;
            constexpr int step = KindBytes<K>();
            for (std::size_t c = 0; c < channels; ++c) {
                float* dst = channelArrays[c] + done;
                const UInt8* p = block + c * step;
                for (UInt32 i = 0; i < n; ++i, p += channels * step)
                    dst[i] = SampleToFloat<K>(p);
            }
        });
    });
}

// ============================================================ writing
namespace {

// The most negative value the readers give: the lowest 16-bit word at
// their scale, a hair below -1.0 (3.051758e-5 is not 1/32768).  A sample
// down to it is at full scale, not beyond: the word it came from is
// written back as it was.
constexpr double kLowestReadValue = -32768.0 * kScale16;

// 1 for a sample beyond full scale (not a number is not), else 0: what a
// writer counts as clipped.  A sample between the top word and 1.0 only
// takes the top word; one between -1.0 and kLowestReadValue the lowest.
inline UInt64 BeyondFullScale(double x)
{
    return UInt64(x > 1.0) | UInt64(x < kLowestReadValue);
}

// A sample clipped to [-1, top], not a number to 0, and put back; *clipped
// counts it when it lay beyond full scale.
inline double ClipInPlace(double* src, double top, UInt64* clipped)
{
    double x = *src;
    *clipped += BeyondFullScale(x);
    if (x > top)
        x = top;
    else if (x < -1.0)
        x = -1.0;
    else if (!(x == x))
        x = 0.0;
    *src = x;
    return x;
}

// One sample of the 16-bit writer: clipped to [-1, 0.99996954386] (not a
// number to 0) and put back; with dither (a table given) truncated to 32
// bits plus the next table value shifted up 8, unless it is at the top of
// the range, or else scaled by 32768; the top 16 bits stored big-endian.
inline void WriteWord16(double* src, UInt8* out, const UInt16* table, UInt32 length, UInt16* index,
                        UInt64* clipped)
{
    const double x = ClipInPlace(src, 0.99996954386, clipped);
    SInt32 word;
    if (table) {
        const SInt32 v = SaturateToInt32(x * 2147483647.0);
        if (v > 0x7FFEFFFF)
            word = 32767;
        else
            word = (v + SInt32(UInt32(NextDitherValue(table, length, *index)) << 8)) >> 16;
    } else {
        const double y = x * 32768.0;
        word = y > 32767.0 ? 32767 : (y < -32768.0 ? -32768 : SInt32(y));
    }
    Store16(out, word);
}

// WriteWord16 over `samples` samples, four at a time in vector registers
// where they all take the same way: every sample of the group below the
// top of the range and the group's draws not wrapping the table.  Returns
// the number of samples beyond full scale (counted in a local: the stores
// into the block could otherwise alias the count).
UInt64 WriteWords16(double* src, UInt8* block, std::size_t samples, const UInt16* table, UInt32 length,
                    UInt16* index)
{
    UInt64 clipped = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128d hi = _mm_set1_pd(0.99996954386), lo = _mm_set1_pd(-1.0), one = _mm_set1_pd(1.0);
    const __m128d lowest = _mm_set1_pd(kLowestReadValue);
    const __m128d scale = _mm_set1_pd(table ? 2147483647.0 : 32768.0);
    const __m128d top = _mm_set1_pd(32767.0);
    const __m128i guard = _mm_set1_epi32(0x7FFEFFFF);
    const __m128i zero = _mm_setzero_si128();
    for (; i + 4 <= samples; i += 4) {
        const UInt32 at = *index;
        bool alike = !table || (at + 4 <= 0xFFFF && at + 4 < length);
        __m128d x0 = _mm_loadu_pd(src + i), x1 = _mm_loadu_pd(src + i + 2);
        const int beyond = _mm_movemask_pd(_mm_or_pd(_mm_cmpgt_pd(x0, one), _mm_cmplt_pd(x0, lowest))) |
                           (_mm_movemask_pd(_mm_or_pd(_mm_cmpgt_pd(x1, one), _mm_cmplt_pd(x1, lowest))) << 2);
        x0 = _mm_max_pd(_mm_min_pd(_mm_and_pd(x0, _mm_cmpord_pd(x0, x0)), hi), lo);
        x1 = _mm_max_pd(_mm_min_pd(_mm_and_pd(x1, _mm_cmpord_pd(x1, x1)), hi), lo);
        __m128d y0 = _mm_mul_pd(x0, scale), y1 = _mm_mul_pd(x1, scale);
        if (!table) {
            y0 = _mm_min_pd(y0, top);
            y1 = _mm_min_pd(y1, top);
        }
        __m128i words = _mm_unpacklo_epi64(_mm_cvttpd_epi32(y0), _mm_cvttpd_epi32(y1));
        if (table && alike)
            alike = _mm_movemask_epi8(_mm_cmpgt_epi32(words, guard)) == 0;
        if (!alike) {
            for (std::size_t k = i; k < i + 4; ++k)
                WriteWord16(src + k, block + 2 * k, table, length, index, &clipped);
            continue;
        }
        clipped += UInt64(__builtin_popcount(unsigned(beyond)));
        if (table) {
            const __m128i drawn = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(table + at + 1));
            words = _mm_srai_epi32(_mm_add_epi32(words, _mm_slli_epi32(_mm_unpacklo_epi16(drawn, zero), 8)), 16);
            *index = UInt16(at + 4);
        }
        _mm_storeu_pd(src + i, x0);
        _mm_storeu_pd(src + i + 2, x1);
        const __m128i packed = _mm_packs_epi32(words, words);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(block + 2 * i),
                         _mm_or_si128(_mm_slli_epi16(packed, 8), _mm_srli_epi16(packed, 8)));
    }
#endif
    for (; i < samples; ++i)
        WriteWord16(src + i, block + 2 * i, table, length, index, &clipped);
    return clipped;
}

} // namespace

template <typename Convert>
OSErr CSoundFile::WriteLoop(UInt32 frame, UInt32* count, Convert&& convert)
{
    if (!count)
        return paramErr;
    OSErr result = AllocateWriteBuffer();
    if (result)
        return result;
    // Frame positions are 32-bit: a request that would run past the last
    // position ends there.
    const UInt64 end = std::min<UInt64>(UInt64(frame) + *count, std::numeric_limits<UInt32>::max());
    if (frame >= end) {
        *count = 0;
        return noErr;
    }
    UInt64 pos = frame;
    while (pos < end) {
        result = PrepareWriteBlock(UInt32(pos));
        if (result)
            break;
        if (!m_writeBuffer) {
            result = paramErr;
            break;
        }
        const UInt32 n = UInt32(std::min<UInt64>(end - pos, m_bufferFrames));
        convert(m_writeBuffer, n, UInt64(pos - frame));
        result = WriteBlock(n, UInt32(pos));
        if (result)
            break;
        pos += n;
    }
    m_blockValidFrames = 0;
    *count = UInt32(pos - frame);
    return result;
}

OSErr CSoundFile::WriteFrames(UInt32 frame, UInt32* count, double* interleaved)
{
    const int bytes = m_numBits / 8;
    const std::size_t channels = GetNumChannels();
    const bool dither = m_dither && DitherTableExists();
    const UInt16* const ditherTable = dither ? gDitherTable : nullptr;
    const UInt32 ditherLength = dither ? UInt32(gDitherTableLength) : 0;
    // Every sample beyond full scale is clipped here, and counted for the
    // file's warning.
    UInt64 clipped = 0;
    const OSErr written = WriteLoop(frame, count, [&](UInt8* block, UInt32 n, UInt64 done) {
        double* src = interleaved + done * channels;
        const std::size_t samples = std::size_t(n) * channels;
        // The block's dither draw runs on a local index (the stores into the
        // block could otherwise alias the running one).
        UInt16 ditherIndex = gDitherIndex;
        UInt64 beyond = 0;  // the block's, in a local the stores cannot alias
        switch (bytes) {
        case 2:
            beyond = WriteWords16(src, block, samples, ditherTable, ditherLength, &ditherIndex);
            break;
        case 1:
            for (std::size_t i = 0; i < samples; ++i) {
                const double x = ClipInPlace(src + i, 0.9921875, &beyond);
                SInt32 byte;
                if (dither) {
                    const SInt32 y = SInt16(SaturateToInt32(x * 32767.0));
                    if (y >= 32512)
                        byte = y >> 8;
                    else
                        byte = (y + SInt32(SInt16(NextDitherValue(ditherTable, ditherLength, ditherIndex)))) >> 8;
                } else {
                    byte = SaturateToInt32(x * 127.0);
                }
                block[i] = UInt8(byte);
            }
            break;
        case 3:
            for (std::size_t i = 0; i < samples; ++i) {
                double x = src[i];
                beyond += BeyondFullScale(x);
                if (x * 8388608.0 > 8388608.0)
                    x = 1.0;
                else if (x * 8388608.0 < -8388608.0)
                    x = -1.0;
                else if (!(x == x))
                    x = 0.0;
                src[i] = x;
                UInt32ToUInt24(UInt32(SaturateToInt32(x * 2147483647.0)), block + 3 * i);
            }
            break;
        case 4:
            for (std::size_t i = 0; i < samples; ++i) {
                double x = src[i];
                beyond += BeyondFullScale(x);
                if (x * 2147483648.0 > 2147483648.0)
                    x = 1.0;
                else if (x * 2147483648.0 < -2147483648.0)
                    x = -1.0;
                else if (!(x == x))
                    x = 0.0;
                src[i] = x;
                Store32(block + 4 * i, SaturateToInt32(x * 2147483647.0));
            }
            break;
        default:
            break;
        }
        gDitherIndex = ditherIndex;
        clipped += beyond;
    });
    AddClippedSamples(clipped);
    return written;
}

OSErr CSoundFile::WriteFrames(UInt32 frame, UInt32* count, double** channelArrays)
{
    if (!count || !channelArrays)
        return paramErr;
    const std::size_t channels = GetNumChannels();
    for (std::size_t c = 0; c < channels; ++c)
        if (!channelArrays[c])
            return paramErr;
    const std::size_t total = std::size_t(*count) * channels;
    double* interleaved = new (std::nothrow) double[total ? total : 1];
    if (!interleaved)
        return memFullErr;
    for (std::size_t c = 0; c < channels; ++c) {
        const double* src = channelArrays[c];
        for (std::size_t i = 0; i < *count; ++i)
            interleaved[i * channels + c] = src[i];
    }
    const OSErr err = WriteFrames(frame, count, interleaved);
    delete[] interleaved;
    return err;
}

OSErr CSoundFile::WriteChannelFrames(UInt16 channel, UInt32 frame, UInt32* count, const double* samples)
{
    if (channel >= GetNumChannels()) {
        if (count)
            *count = 0;
        return paramErr;
    }
    const int bytes = m_numBits / 8;
    const std::size_t channels = GetNumChannels();
    // A sum beyond full scale is clipped, and counted for the file's warning.
    UInt64 clipped = 0;
    const OSErr written = WriteLoop(frame, count, [&](UInt8* block, UInt32 n, UInt64 done) {
        const double* src = samples + done;
        UInt64 beyond = 0;  // the block's, in a local the stores cannot alias
        switch (bytes) {
        case 2: {
            UInt8* p = block + 2 * std::size_t(channel);
            for (UInt32 i = 0; i < n; ++i, p += 2 * channels) {
                beyond += BeyondFullScale(src[i] + double(Load16(p)) / 32768.0);
                double y = src[i] * 32768.0;
                if (y > 32767.0)
                    y = 32767.0;
                else if (y < -32768.0)
                    y = -32768.0;
                else if (!(y == y))
                    y = 0.0;
                Store16(p, Clamp(SaturateToInt32(y + double(Load16(p))), -32768, 32767));
            }
            break;
        }
        case 1: {
            UInt8* p = block + std::size_t(channel);
            for (UInt32 i = 0; i < n; ++i, p += channels) {
                beyond += BeyondFullScale(src[i] + double(Load8(p)) / 128.0);
                const SInt64 sum = SInt64(Load8(p)) + SaturateToInt32(src[i] * 127.0);
                *p = UInt8(Clamp(sum, -128, 127));
            }
            break;
        }
        case 3: {
            UInt8* p = block + 3 * std::size_t(channel);
            for (UInt32 i = 0; i < n; ++i, p += 3 * channels) {
                double x = double(Load24(p)) * kScale32 + src[i];
                beyond += BeyondFullScale(x);
                if (x > 1.0)
                    x = 1.0;
                else if (x < -1.0)
                    x = -1.0;
                else if (!(x == x))
                    x = 0.0;
                UInt32ToUInt24(UInt32(SaturateToInt32(x * 2147483647.0)), p);
            }
            break;
        }
        case 4: {
            UInt8* p = block + 4 * std::size_t(channel);
            for (UInt32 i = 0; i < n; ++i, p += 4 * channels) {
                beyond += BeyondFullScale(src[i] + double(Load32(p)) * kScale32);
                const SInt64 sum = SInt64(Load32(p)) + SaturateToInt32(src[i] * 2147483647.0);
                Store32(p, Clamp(sum, std::numeric_limits<SInt32>::min(), std::numeric_limits<SInt32>::max()));
            }
            break;
        }
        default:
            break;
        }
        clipped += beyond;
    });
    AddClippedSamples(clipped);
    return written;
}

// ======================================================= peak finders
namespace {
template <int Kind>
UInt32 FindPeaksOf(const void* buffer, UInt32 frames, UInt16 channels, SInt32* min, SInt32* max)
{
    if (!buffer || !min || !max || frames == 0 || channels == 0)
        return 0;
    constexpr int step = KindBytes<Kind>();
    const UInt8* p = static_cast<const UInt8*>(buffer);
    UInt32 last = 0;
    for (UInt32 f = 0; f < frames; ++f) {
        for (UInt16 c = 0; c < channels; ++c, p += step) {
            const SInt32 s = LoadSample<Kind>(p);
            if (s < min[c]) {
                min[c] = s;
                last = f;
            } else if (s > max[c]) {
                max[c] = s;
                last = f;
            }
        }
    }
    return last;
}
} // namespace

UInt32 CSoundFile::FindPeaks8(const void* buffer, UInt32 frames, SInt32* min, SInt32* max) const
{
    return FindPeaksOf<1>(buffer, frames, GetNumChannels(), min, max);
}
UInt32 CSoundFile::FindPeaks16(const void* buffer, UInt32 frames, SInt32* min, SInt32* max) const
{
    return FindPeaksOf<2>(buffer, frames, GetNumChannels(), min, max);
}
UInt32 CSoundFile::FindPeaks24(const void* buffer, UInt32 frames, SInt32* min, SInt32* max) const
{
    return FindPeaksOf<3>(buffer, frames, GetNumChannels(), min, max);
}
UInt32 CSoundFile::FindPeaks24in32(const void* buffer, UInt32 frames, SInt32* min, SInt32* max) const
{
    return FindPeaksOf<5>(buffer, frames, GetNumChannels(), min, max);
}
UInt32 CSoundFile::FindPeaks32(const void* buffer, UInt32 frames, SInt32* min, SInt32* max) const
{
    return FindPeaksOf<4>(buffer, frames, GetNumChannels(), min, max);
}

// ================================================= 24-bit conversions
double Int24ToDouble(const UInt8* bytes)
{
    return double(SInt32(UInt24ToUInt32(bytes))) * kScale32;
}

float Int24ToFloat(const UInt8* bytes)
{
    return float(double(SInt32(UInt24ToUInt32(bytes))) * kScale32);
}

void DoubleToInt24(double value, UInt8* bytes)
{
    const SInt32 word = (value == value) ? SaturateToInt32(value * 2147483647.0) : std::numeric_limits<SInt32>::min();
    UInt32ToUInt24(UInt32(word), bytes);
}

// ============================================================ markers
UInt16 CSoundFile::GetNumMarkers() const
{
    return CountOf(m_markers);
}

OSErr CSoundFile::GetMarker(UInt16 index, SFTMarker* marker) const
{
    if (index >= m_markers.size())
        return kWrongMarkerErr;
    if (marker)
        m_markers[index].getMarker(marker);
    return noErr;
}

const ZuMarker* CSoundFile::GetMarkerObject(UInt16 index) const
{
    return index < m_markers.size() ? &m_markers[index] : nullptr;
}

OSErr CSoundFile::GetMarkerByID(SInt32 markerID, SFTMarker* marker) const
{
    for (const ZuMarker& m : m_markers) {
        if (m.markerID() == markerID) {
            if (marker)
                m.getMarker(marker);
            return noErr;
        }
    }
    return kWrongMarkerErr;
}

OSErr CSoundFile::AddMarker(const SFTMarker* marker)
{
    if (!marker)
        return paramErr;
    ZuMarker added(*marker);
    for (const ZuMarker& m : m_markers)
        if (m.isEqual(added))
            return noErr;
    for (qsizetype i = 0; i < m_markers.size(); ++i) {
        const SInt32 id = m_markers[i].markerID();
        if (id < added.markerID())
            continue;
        if (id > added.markerID()) {
            m_markers.insert(i, added);
            return noErr;
        }
        // The identifier is taken: the marker gets the next free one at the end.
        const SInt32 lastID = m_markers.last().markerID();
        added.setMarkerID(SInt32(UInt32(lastID) + 1u));
        m_markers.append(added);
        return noErr;
    }
    m_markers.append(added);
    return noErr;
}

OSErr CSoundFile::RemoveMarker(const SFTMarker* marker)
{
    if (!marker)
        return paramErr;
    return RemoveFirstEqual(m_markers, ZuMarker(*marker), kWrongMarkerErr);
}

const QList<ZuMarker>& CSoundFile::GetMarkers() const
{
    return m_markers;
}

// ============================================================== loops
UInt16 CSoundFile::GetNumLoops() const
{
    return CountOf(m_loops);
}

OSErr CSoundFile::GetLoop(UInt16 index, SFTLoop* loop) const
{
    if (index >= m_loops.size())
        return kWrongLoopErr;
    if (loop)
        m_loops[index].getLoop(loop);
    return noErr;
}

const ZuLoop* CSoundFile::GetLoopObject(UInt16 index) const
{
    return index < m_loops.size() ? &m_loops[index] : nullptr;
}

OSErr CSoundFile::AddLoop(const SFTLoop* loop)
{
    if (!loop)
        return paramErr;
    m_loops.append(ZuLoop(*loop));
    return noErr;
}

OSErr CSoundFile::RemoveLoop(const SFTLoop* loop)
{
    if (!loop)
        return paramErr;
    return RemoveFirstEqual(m_loops, ZuLoop(*loop), kWrongLoopErr);
}

const QList<ZuLoop>& CSoundFile::GetLoops() const
{
    return m_loops;
}

OSErr CSoundFile::RemoveDuplicateMarkers()
{
    // Keeps the first of every group of markers with the same identifier,
    // position and name, and of loops equal in all four fields.
    for (qsizetype i = 0; i < m_markers.size(); ++i) {
        for (qsizetype j = i + 1; j < m_markers.size();) {
            const ZuMarker& a = m_markers[i];
            const ZuMarker& b = m_markers[j];
            if (a.markerID() == b.markerID() && a.pos() == b.pos() && a.name() == b.name())
                m_markers.removeAt(j);
            else
                ++j;
        }
    }
    for (qsizetype i = 0; i < m_loops.size(); ++i) {
        for (qsizetype j = i + 1; j < m_loops.size();) {
            if (m_loops[i].isEqual(m_loops[j]))
                m_loops.removeAt(j);
            else
                ++j;
        }
    }
    return noErr;
}

// ============================================================ regions
UInt16 CSoundFile::GetNumRegions() const
{
    return CountOf(m_regions);
}

OSErr CSoundFile::GetRegion(UInt16 index, SFTRegion* region) const
{
    if (index >= m_regions.size())
        return kWrongRegionErr;
    if (region) {
        const ZuRegion& r = m_regions[index];
        r.getRegion(region);
        region->timeStamp = r.timeStamp();
    }
    return noErr;
}

const ZuRegion* CSoundFile::GetRegionObject(UInt16 index) const
{
    return index < m_regions.size() ? &m_regions[index] : nullptr;
}

void CSoundFile::InsertRegionName(const QString& name)
{
    if (m_regionNames.count(name) != 0)
        m_duplicateRegionNames.insert(name);
    else
        m_regionNames.insert(name);
}

OSErr CSoundFile::AddRegion(const SFTRegion* region)
{
    if (!region)
        return paramErr;
    QString name = RegionNameFromPascal(region->name, sizeof(region->name));
    if (name.size() > kMaxRegionNameLength)
        name.truncate(kMaxRegionNameLength);
    const ZuRegion added = RegionFromRecord(*region, m_numFrames, name);
    for (const ZuRegion& r : m_regions)
        if (r.isEqual(added))
            return noErr;
    InsertRegionName(name);
    const auto at = std::upper_bound(m_regions.begin(), m_regions.end(), added, RegionPrecedes);
    m_regions.insert(at, added);
    return noErr;
}

OSErr CSoundFile::RemoveRegion(const SFTRegion* region)
{
    if (!region)
        return paramErr;
    const ZuRegion wanted = RegionFromRecord(*region, m_numFrames, QString());
    qsizetype first = -1;
    for (qsizetype i = 0; i < m_regions.size(); ++i) {
        if (m_regions[i].isEqual(wanted)) {
            first = i;
            break;
        }
    }
    if (first < 0)
        return kWrongRegionErr;
    const QString name = m_regions[first].name();
    m_regions.removeIf([&](const ZuRegion& r) { return r.isEqual(wanted); });
    m_regionNames.erase(name);
    m_duplicateRegionNames.erase(name);
    return noErr;
}

Boolean CSoundFile::FindRegion(UInt32 start, UInt32 end, SFTRegion* region) const
{
    for (const ZuRegion& r : m_regions) {
        if (r.start() == start && r.end() == end) {
            if (region) {
                r.getRegion(region);
                region->timeStamp = r.timeStamp();
            }
            return true;
        }
    }
    return false;
}

const QList<ZuRegion>& CSoundFile::GetRegions() const
{
    return m_regions;
}

OSErr CSoundFile::GetRegionBounds(SInt32 frame, UInt32* start, UInt32* end) const
{
    UInt32 blockStart = 0;
    UInt32 blockEnd = 0;
    if (end)
        *end = 0;
    qsizetype i = 0;
    while (i < m_regions.size() && SInt32(m_regions[i].start()) < frame)
        ++i;
    if (i >= m_regions.size())
        return kNoBlockOfRegionsErr;
    blockStart = m_regions[i].start();
    blockEnd = m_regions[i].end();
    for (++i; i < m_regions.size() && m_regions[i].start() < blockEnd; ++i)
        blockEnd = std::max(blockEnd, m_regions[i].end());
    if (start)
        *start = blockStart;
    if (end)
        *end = blockEnd;
    return noErr;
}

OSErr CSoundFile::AddFileRegion()
{
    if (!GetProcessFileIfNoRegions() || !m_regions.isEmpty())
        return noErr;
    SFTRegion region;
    region.regionID = 0;
    region.start = 0;
    region.end = m_numFrames;
    region.syncFrame = 0;
    region.timeStamp = 0;
    QString name = GetName();
    if (name.size() > 29)
        name.truncate(29);
    MacRoman::toPascal(name, region.name, 31);
    return AddRegion(&region);
}

OSErr CSoundFile::RepairRegionNames()
{
    PostRepairStep();
    for (qsizetype i = 0; i < m_regions.size(); ++i) {
        const QString old = m_regions[i].name();
        QString repaired = old;
        if (repaired.isEmpty()) {
            repaired = QString::fromLatin1(kRegionNoName);
        } else {
            repaired.replace(QLatin1Char(':'), QLatin1Char('-'));
            repaired.replace(QLatin1Char('/'), QLatin1Char('-'));
        }
        if (repaired == old)
            continue;
        m_regionNames.erase(old);
        m_duplicateRegionNames.erase(old);
        m_regions[i].setName(repaired);
        InsertRegionName(repaired);
    }
    return noErr;
}

OSErr CSoundFile::MakeRegionNamesUnique()
{
    const OSErr err = RepairRegionNames();
    if (err)
        return err;
    QStringList duplicates(m_duplicateRegionNames.begin(), m_duplicateRegionNames.end());
    duplicates.sort();
    for (const QString& name : duplicates) {
        unsigned long counter = 1;
        for (qsizetype i = 0; i < m_regions.size(); ++i) {
            if (m_regions[i].name() != name)
                continue;
            QString candidate;
            do {
                const QString suffix = QStringLiteral("#%1").arg(counter++);
                if (name.size() + suffix.size() <= kMaxRegionNameLength)
                    candidate = name + suffix;
                else
                    candidate = name.left(kMaxRegionNameLength - suffix.size()) + suffix;
            } while (m_regionNames.count(candidate) != 0);
            m_regions[i].setName(candidate);
            m_regionNames.insert(candidate);
        }
    }
    m_duplicateRegionNames.clear();
    return noErr;
}

// ================================================ sampler, split pairs
OSErr CSoundFile::GetSamplerInfo(SFTSamplerInfo* info) const
{
    if (info)
        *info = m_samplerInfo;
    return m_samplerInfo.valid ? noErr : kNoValidSamplerInfoErr;
}

OSErr CSoundFile::SetSamplerInfo(const SFTSamplerInfo* info)
{
    if (!info)
        return paramErr;
    m_samplerInfo = *info;
    return noErr;
}

void CSoundFile::ResetSamplerInfo()
{
    m_samplerInfo = SFTSamplerInfo();
}

OSErr CSoundFile::AddSplitPair(UInt32 first, UInt32 second)
{
    m_splitPairs.push_back(first);
    m_splitPairs.push_back(second);
    return noErr;
}

OSErr CSoundFile::GetSplitPair(UInt16 index, UInt32* first, UInt32* second) const
{
    const std::size_t at = 2 * std::size_t(index);
    if (at + 1 >= m_splitPairs.size())
        return kNoSplitPairErr;
    if (first)
        *first = m_splitPairs[at];
    if (second)
        *second = m_splitPairs[at + 1];
    return noErr;
}
