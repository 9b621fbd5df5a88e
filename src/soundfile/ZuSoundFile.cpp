#include "ZuSoundFile.h"

#include "CSplitFile.h"
#include "CSurroundFile.h"
#include "CreateSoundFile.h"
#include "FileOperations.h"
#include "MacRoman.h"
#include "RawFileSettings.h"
#include "ZuSoundFileDisplay.h"
#include "error_code_exception.h"
#include "error_codes.h"
#include "error_table.h"
#include "format_type_codes.h"
#include "throw_helpers.h"

#include <QFileInfo>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdarg>
#include <cstdio>

namespace {

using format_type_codes::kSplitSet;
using format_type_codes::kSurroundSet;

OSErr Narrow(int32_t code)
{
    if (code == 0)
        return noErr;
    const OSErr narrow = OSErr(UInt16(UInt32(code) & 0xFFFF));
    return narrow == 0 ? ioErr : narrow;
}

// The class-wide sort settings.
std::mutex g_sortMutex;
QString g_sortKey = QStringLiteral("filename");
bool g_ascendingSort = true;

template <typename T>
int Order(const T& a, const T& b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

int Sign(int value)
{
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

QString Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
QString Printf(const char* format, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return QString::fromUtf8(buffer);
}

// The thousandths in `value` (not negative, below 64) rounded as printf
// rounds them (to nearest, an exact tie to even), worked out exactly from
// the binary value; false outside that range.
bool RoundedThousandths(double value, std::uint64_t* thousandths)
{
    if (!(value >= 0.0 && value < 64.0))
        return false;
    int exponent = 0;
    const double fraction = std::frexp(value, &exponent);
    // value = mantissa * 2^-shift exactly, with a mantissa below 2^53, so
    // that mantissa * 1000 stays below 2^63.
    const std::uint64_t scaled = std::uint64_t(std::ldexp(fraction, 53)) * 1000u;
    const int shift = 53 - exponent;
    if (shift >= 64) {
        *thousandths = 0;  // below half a thousandth
        return true;
    }
    std::uint64_t whole = scaled >> shift;
    const std::uint64_t rest = scaled & ((std::uint64_t(1) << shift) - 1);
    const std::uint64_t half = std::uint64_t(1) << (shift - 1);
    if (rest > half || (rest == half && (whole & 1u) != 0))
        ++whole;
    *thousandths = whole;
    return true;
}

// Writes `value` in decimal with at least `width` digits (leading zeros);
// returns the end of what it wrote.
char* PutDecimal(char* out, std::uint64_t value, int width)
{
    char digits[24];
    int count = 0;
    do {
        digits[count++] = char('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count < width)
        digits[count++] = '0';
    while (count > 0)
        *out++ = digits[--count];
    return out;
}

QString LastComponent(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

// ========================================================== construction
void ZuSoundFile::SoundFileCloser::operator()(CSoundFile* file) const
{
    // Closes (it is closed already) and deletes; the file is kept.
    if (file)
        file->CloseAndDelete(true);
}

ZuSoundFile::ZuSoundFile(Unexamined) {}

ZuSoundFile::ZuSoundFile(const QString& path)
{
    setupWithPath(path);
}

ZuSoundFile::~ZuSoundFile() = default;

std::shared_ptr<ZuSoundFile> ZuSoundFile::soundFileWithPath(const QString& path)
{
    return std::make_shared<ZuSoundFile>(path);
}

std::shared_ptr<ZuSoundFile> ZuSoundFile::soundFileWithFSRef(const FSRef& ref)
{
    std::string path;
    if (FSRefMakePath(&ref, &path) != noErr)
        return nullptr;
    return std::make_shared<ZuSoundFile>(QString::fromStdString(path));
}

std::shared_ptr<ZuSoundFile> ZuSoundFile::copy() const
{
    return std::make_shared<ZuSoundFile>(QString(m_path));
}

// ========================================================== examination
void ZuSoundFile::setupWithPath(const QString& path)
{
    m_surroundSet.clear();
    m_specifics.clear();
    m_path = path;
    m_descriptor = QString();
    m_infoAvailable.store(false);

    const auto display = ZuSoundFileDisplay::instance();
    try {
        const std::string utf8 = path.toStdString();
        FSRef ref;
        Boolean isFolder = false;
        if (utf8.empty() || FSPathMakeRef(utf8, &ref, &isFolder) != noErr)
            return;  // nothing there: no descriptor, not playable, no icon

        Boolean isAlias = false;
        THROW_IF_ERROR(FSIsAliasFile(&ref, &isAlias, &isFolder));
        m_isDirectory = isFolder != 0;

        // A FIFO, device or socket is never opened: reading could wait for
        // ever, and it cannot be a sound file.
        PathStatus kind;
        if (!m_isDirectory && StatPath(utf8, &kind) == 0 && !kind.isFile) {
            m_isPlayable = false;
            m_errorCode = notAFileErr;
            return;
        }

        if (!m_isDirectory) {
            FSCatalogInfo catalog;
            THROW_IF_ERROR(FSGetCatalogInfo(&ref, kFSCatInfoFinderInfo | kFSCatInfoDataSizes | kFSCatInfoRsrcSizes,
                                            &catalog, nullptr, nullptr, nullptr));
            m_hfsCreator = catalog.finderInfo.fileCreator;

            OSType type = catalog.finderInfo.fileType;
            SInt32 recognized = 0;
            std::string setName;
            SInt32 configuration = 0;
            const OSErr detected =
                DetectFileType(utf8, &type, &recognized, &m_surroundSet, &setName, &configuration, true);
            if (detected == noErr) {
                if (!setName.empty())
                    m_surroundSetName = QString::fromStdString(setName);
                if (m_surroundSet.size() < 2)
                    m_surroundSet.clear();
                m_hfsRealType = type;
                m_hfsFileType = m_surroundSet.empty() ? type
                                                      : (m_surroundSet.size() == 2 ? kSplitSet : kSurroundSet);
                m_channelConfiguration = configuration;
                m_isPlayable = recognized != 0 || RawFileSettings::Action() == RawFileSettings::kActionReadAsRaw;
                m_size = catalog.dataLogicalSize + catalog.rsrcLogicalSize;
                getInfo();
            } else {
                // Nothing can read the file: it is not playable, whatever
                // the detection recognised before it failed.
                m_surroundSet.clear();
                m_isPlayable = false;
                m_errorCode = detected;
                PathStatus status;
                if (StatPath(utf8, &status) == 0)
                    m_size = status.size;
            }
        } else {
            m_descriptor = display->localizedString(QStringLiteral("Folder"));
        }
    } catch (const error_code_exception&) {
        // The fields set so far stay.
    }
    m_icon = display->iconForPath(m_path);
}

void ZuSoundFile::getInfo()
{
    setInfoAvailable(false);
    m_soundFile.reset();
    CSoundFile* file = nullptr;
    try {
        OSErr error = noErr;
        file = createSoundFile(&error);
        if (!file) {
            THROW_IF_ERROR(error, "createSoundFile");
            // No class reads this type.
            m_isPlayable = false;
            return;
        }
        m_needsDecodingOnOpen = file->NeedsDecodingOnOpen();
        m_needsEncodingOnClose = file->NeedsEncodingOnClose();

        THROW_IF_ERROR(file->Open(), "Open");
        // A header whose rate or channels cannot describe its sound is
        // refused as every reader's is.
        if (const OSErr shape = file->CheckReadShape()) {
            file->Close();
            THROW_IF_ERROR(shape, "header shape");
        }

        m_numRegions = file->GetNumRegions();
        m_numMarkers = file->GetNumMarkers();
        m_numLoops = file->GetNumLoops();
        m_sampleRate = file->GetSampleRate();
        m_rateFromRawSettings = file->RateFromRawSettings();
        m_numFrames = file->GetNumFrames();
        if (m_numFrames <= 1)
            m_isPlayable = false;
        m_numChannels = file->GetNumChannels();
        m_channelConfiguration = file->GetChannelConfiguration();
        m_numBits = UInt16(file->GetNumBits());
        m_bitRate = file->GetBitRate();
        m_useBitRate = file->UseBitRate();
        const QVariant cbr = file->GetSpecifics().value(QStringLiteral("isCBR"));
        m_isCBR = cbr.isValid() ? cbr.toBool() : true;
        m_dataType = file->GetState();
        m_hasVideoTrack = file->HasVideoTrack();
        m_channelDescription = file->GetChannelDescription();
        m_specifics = file->GetSpecifics();
        m_lengthStr = timeText(m_numFrames, m_sampleRate);
        infoStringForSoundFile(file);
        m_timestamps = timeText(double(file->GetTimeStamp64()), m_sampleRate);
        m_verdictLines = file->VerdictLines();

        const OSErr closed = file->Close();
        if (closed) {
            THROW_IF_ERROR(closed, "Close");
        }
        m_soundFile.reset(file);
        file = nullptr;
        setInfoAvailable(true);
    } catch (const error_code_exception& e) {
        delete file;
        m_soundFile.reset();
        m_isPlayable = false;
        setInfoAvailable(false);
        const OSErr code = Narrow(e.code());
        m_errorCode = code;
        const auto display = ZuSoundFileDisplay::instance();
        if (code == kNoAudioTrackErr) {
            m_descriptor = display->localizedString(QStringLiteral("QuickTime Movie without audio track"));
        } else if (code == kSplitRightAlreadyProcessedErr) {
            m_descriptor = display->localizedString(QStringLiteral("Right side of a split stereo file"));
        } else {
            unsigned char message[256] = {0};
            const int messageClass = GetErrorPString(code, message);
            m_descriptor = messageClass != 0 ? MacRoman::fromPascal(message, sizeof message) : QString();
        }
    } catch (...) {
        delete file;
        m_soundFile.reset();
        m_isPlayable = false;
        setInfoAvailable(false);
    }
}

CSoundFile* ZuSoundFile::createSoundFile(OSErr* error) const
{
    if (error)
        *error = noErr;
    if (m_isDirectory)
        return nullptr;
    CSoundFile* file = nullptr;
    try {
        if (m_hfsFileType == kSplitSet || m_hfsFileType == kSurroundSet) {
            file = CreateSoundFileObject(m_hfsFileType, m_hfsRealType);
            if (!file)
                return nullptr;
            THROW_IF_ERROR(file->SetFile(m_surroundSet), "members of a set");
            if (m_hfsFileType == kSurroundSet) {
                auto* surround = dynamic_cast<CSurroundFile*>(file);
                THROW_IF_NULL(surround, "surround file");
                surround->SetSurroundSetName(m_surroundSetName.toStdString());
            }
        } else {
            file = CreateSoundFileObject(m_hfsFileType);
            if (!file)
                return nullptr;
            THROW_IF_ERROR(file->SetFile(m_path.toStdString()), "SetFile");
        }
        file->SetChannelConfiguration(m_channelConfiguration);
        return file;
    } catch (const error_code_exception& e) {
        if (error)
            *error = Narrow(e.code());
        delete file;
        return nullptr;
    }
}

bool ZuSoundFile::isRightSideOfSplit() const
{
    return m_errorCode == kSplitRightAlreadyProcessedErr;
}

// ============================================================ archiving
QVariantMap ZuSoundFile::encode() const
{
    QVariantMap archive;
    archive.insert(QStringLiteral("path"), m_path);
    archive.insert(QStringLiteral("info"), m_info);
    if (m_size)
        archive.insert(QStringLiteral("size"), QVariant::fromValue<qulonglong>(*m_size));
    archive.insert(QStringLiteral("icon"), m_icon);
    archive.insert(QStringLiteral("descriptor"), m_descriptor);
    archive.insert(QStringLiteral("lengthStr"), m_lengthStr);
    archive.insert(QStringLiteral("deepCount"), qint32(m_deepCount));
    archive.insert(QStringLiteral("isDirectory"), m_isDirectory);
    archive.insert(QStringLiteral("isPlayable"), m_isPlayable);
    archive.insert(QStringLiteral("hfsCreator"), qint32(m_hfsCreator));
    archive.insert(QStringLiteral("hfsFileType"), qint32(m_hfsFileType));
    archive.insert(QStringLiteral("numChannels"), qint32(m_numChannels));
    archive.insert(QStringLiteral("numRegions"), qint32(m_numRegions));
    archive.insert(QStringLiteral("numBits"), qint32(m_numBits));
    archive.insert(QStringLiteral("sampleRate"), m_sampleRate);
    archive.insert(QStringLiteral("numFrames"), qint32(m_numFrames));
    return archive;
}

std::shared_ptr<ZuSoundFile> ZuSoundFile::decode(const QVariantMap& archive)
{
    std::shared_ptr<ZuSoundFile> model(new ZuSoundFile(Unexamined{}));
    model->setPath(archive.value(QStringLiteral("path")).toString());
    model->setInfo(archive.value(QStringLiteral("info")).toString());
    const QVariant size = archive.value(QStringLiteral("size"));
    if (size.isValid())
        model->setSize(size.toULongLong());
    model->setIcon(archive.value(QStringLiteral("icon")));
    model->setDescriptor(archive.value(QStringLiteral("descriptor")).toString());
    model->setLengthStr(archive.value(QStringLiteral("lengthStr")).toString());
    model->setDeepCount(archive.value(QStringLiteral("deepCount")).toInt());
    model->setIsDirectory(archive.value(QStringLiteral("isDirectory")).toBool());
    model->setIsPlayable(archive.value(QStringLiteral("isPlayable")).toBool());
    model->setHfsCreator(OSType(archive.value(QStringLiteral("hfsCreator")).toInt()));
    model->setHfsFileType(OSType(archive.value(QStringLiteral("hfsFileType")).toInt()));
    model->setNumChannels(UInt16(archive.value(QStringLiteral("numChannels")).toInt()));
    model->setNumRegions(UInt32(archive.value(QStringLiteral("numRegions")).toInt()));
    model->setNumBits(UInt16(archive.value(QStringLiteral("numBits")).toInt()));
    model->setSampleRate(archive.value(QStringLiteral("sampleRate")).toDouble());
    model->setNumFrames(UInt32(archive.value(QStringLiteral("numFrames")).toInt()));
    return model;
}

// ============================================================= computed
QString ZuSoundFile::name() const
{
    if (m_soundFile) {
        const QString name = m_soundFile->GetName();
        if (!name.isNull())
            return name;
    }
    return LastComponent(m_path);
}

bool ZuSoundFile::isSplit() const
{
    return m_soundFile && m_soundFile->IsSplit();
}

QList<ZuRegion> ZuSoundFile::regions() const
{
    return m_soundFile ? m_soundFile->GetRegions() : QList<ZuRegion>();
}

QList<ZuMarker> ZuSoundFile::markers() const
{
    return m_soundFile ? m_soundFile->GetMarkers() : QList<ZuMarker>();
}

QList<ZuLoop> ZuSoundFile::loops() const
{
    return m_soundFile ? m_soundFile->GetLoops() : QList<ZuLoop>();
}

bool ZuSoundFile::getAudioStreamBasicDescription(AudioStreamBasicDescription* asbd) const
{
    if (!m_soundFile || !asbd)
        return false;
    m_soundFile->GetAudioStreamBasicDescription(asbd);
    return true;
}

QVariantMap ZuSoundFile::extraInfo() const
{
    std::lock_guard<std::mutex> lock(m_lazyMutex);
    if (!m_extraInfoLoaded && m_soundFile) {
        m_extraInfoLoaded = true;
        std::unique_ptr<QVariantMap> info = m_soundFile->GetExtraInfo();
        if (info)
            m_extraInfo = *info;
    }
    return m_extraInfo;
}

void ZuSoundFile::loadAttributes() const
{
    // Under m_lazyMutex.
    if (m_attributesLoaded)
        return;
    m_attributesLoaded = true;
    const std::string utf8 = m_path.toStdString();
    PathStatus status;
    if (utf8.empty() || StatPath(utf8, &status) != 0)
        return;
    const QFileInfo info(m_path);
    m_attributes.insert(QStringLiteral("creationDate"), info.birthTime());
    m_attributes.insert(QStringLiteral("modificationDate"), info.lastModified());
    m_attributes.insert(QStringLiteral("owner"), info.owner());
    m_attributes.insert(QStringLiteral("group"), info.group());
    m_attributes.insert(QStringLiteral("posixPermissions"), uint(status.mode & 07777));
    m_attributes.insert(QStringLiteral("size"), QVariant::fromValue<qulonglong>(status.size));
    OSType hfsType = 0;
    FSRef ref;
    FSCatalogInfo catalog;
    if (!status.isFolder && FSPathMakeRef(utf8, &ref) == noErr &&
        FSGetCatalogInfo(&ref, kFSCatInfoFinderInfo, &catalog, nullptr, nullptr, nullptr) == noErr)
        hfsType = catalog.finderInfo.fileType;
    m_attributes.insert(QStringLiteral("hfsTypeCode"), uint(hfsType));
}

QVariantMap ZuSoundFile::attributes() const
{
    std::lock_guard<std::mutex> lock(m_lazyMutex);
    loadAttributes();
    return m_attributes;
}

QDateTime ZuSoundFile::creationDate() const
{
    return attributes().value(QStringLiteral("creationDate")).toDateTime();
}

QDateTime ZuSoundFile::modificationDate() const
{
    return attributes().value(QStringLiteral("modificationDate")).toDateTime();
}

QString ZuSoundFile::owner() const
{
    return attributes().value(QStringLiteral("owner")).toString();
}

QString ZuSoundFile::group() const
{
    return attributes().value(QStringLiteral("group")).toString();
}

bool ZuSoundFile::infoAvailable() const
{
    return m_infoAvailable.load(std::memory_order_acquire);
}

void ZuSoundFile::setInfoAvailable(bool available)
{
    m_infoAvailable.store(available, std::memory_order_release);
}

void ZuSoundFile::infoStringForSoundFile(const CSoundFile* file)
{
    m_descriptor = file ? file->GetFormatName() : QString();
}

QString ZuSoundFile::description() const
{
    auto text = [](const QString& s) { return s.isNull() ? QStringLiteral("(null)") : s; };
    const QString size = m_size ? QString::number(qulonglong(*m_size)) : QStringLiteral("(null)");
    return Printf("<ZuSoundFile: %p, path = ", static_cast<const void*>(this)) + text(m_path) +
           QStringLiteral(",\n\tdescription = ") + text(m_descriptor) + QStringLiteral(",\n\tsize = ") + size +
           QStringLiteral(",\n\tinfo = '") + text(m_info) + QStringLiteral("',\n\tdeep count = ") +
           QString::number(m_deepCount) + QStringLiteral(",\n\tis directory: ") +
           (m_isDirectory ? QStringLiteral("yes") : QStringLiteral("no")) + QStringLiteral(",\n\tis playable: ") +
           (m_isPlayable ? QStringLiteral("yes") : QStringLiteral("no")) + QLatin1Char('>');
}

// ======================================================== display texts
QString ZuSoundFile::timeText(double frames, double rate)
{
    double seconds = rate > 0.0 ? frames / rate : 0.0;
    if (!(seconds >= 0.0))
        seconds = 0.0;
    // Beyond any real length; keeps the integer parts defined.
    if (seconds > 2.0e9)
        seconds = 2.0e9;
    const int hours = int(seconds / 3600.0);
    seconds -= double(hours) * 3600.0;
    const int minutes = int(seconds / 60.0);
    seconds -= double(minutes) * 60.0;
    // As "%02d:%02d:%06.3f" would write it, without the cost of printf for
    // every file examined.
    std::uint64_t thousandths = 0;
    if (hours < 0 || minutes < 0 || !RoundedThousandths(std::fabs(seconds), &thousandths))
        return Printf("%02d:%02d:%06.3f", hours, minutes, seconds);
    char text[64];
    char* out = text;
    out = PutDecimal(out, std::uint64_t(hours), 2);
    *out++ = ':';
    out = PutDecimal(out, std::uint64_t(minutes), 2);
    *out++ = ':';
    // The width of six counts a minus sign.
    const bool negative = std::signbit(seconds);
    if (negative)
        *out++ = '-';
    out = PutDecimal(out, thousandths / 1000, negative ? 1 : 2);
    *out++ = '.';
    out = PutDecimal(out, thousandths % 1000, 3);
    return QString::fromLatin1(text, qsizetype(out - text));
}

unsigned ZuSoundFile::shownWordSize() const
{
    unsigned bits = m_numBits;
    if (m_dataType == kSampleFormatADPCM || m_dataType == 63)
        bits = 4;
    else if (m_dataType == kSampleFormatMuLaw || m_dataType == kSampleFormatALaw)
        bits = 8;
    // A type that stores every sample in a fixed size whatever the word
    // length read (μ-law codes of 8 bits) shows that size.
    if (const int stored = GetSoundFileProperties(m_hfsFileType).value(QStringLiteral("storedBitsPerSample")).toInt())
        bits = unsigned(stored);
    return bits;
}

QString ZuSoundFile::displaySize() const
{
    if (m_isDirectory || !m_size)
        return QString();
    return ZuSoundFileDisplay::instance()->formatSize(*m_size);
}

QString ZuSoundFile::displaySampleRate() const
{
    if (m_isDirectory || !(m_sampleRate >= 1000.0))
        return QString();
    return Printf("%.2f Hz", m_sampleRate);
}

QString ZuSoundFile::displayChannels() const
{
    return m_channelDescription;
}

QString ZuSoundFile::displayWordSize() const
{
    const unsigned bits = shownWordSize();
    if (m_isDirectory || bits == 0)
        return QString();
    return Printf("%u bits", bits);
}

QString ZuSoundFile::displayBitRate() const
{
    return Printf("%u kbps%s", unsigned(m_bitRate), m_isCBR ? "" : " (VBR)");
}

QString ZuSoundFile::displayBits() const
{
    if (m_isDirectory || shownWordSize() == 0)
        return QString();
    return m_useBitRate ? displayBitRate() : displayWordSize();
}

QString ZuSoundFile::displayRegions() const
{
    return m_numRegions ? QString::number(m_numRegions) : QString();
}

QString ZuSoundFile::displayMarkers() const
{
    return m_numMarkers ? QString::number(m_numMarkers) : QString();
}

QString ZuSoundFile::displayLoops() const
{
    return m_numLoops ? QString::number(m_numLoops) : QString();
}

QString ZuSoundFile::displayHFSType() const
{
    const OSType type = OSType(attributes().value(QStringLiteral("hfsTypeCode")).toUInt());
    return type ? FileTypeForHFSTypeCode(type) : QStringLiteral("n/a");
}

QString ZuSoundFile::displayHFSCreator() const
{
    return m_hfsCreator ? FileTypeForHFSTypeCode(m_hfsCreator) : QStringLiteral("n/a");
}

QString ZuSoundFile::displayCreationDate() const
{
    return ZuSoundFileDisplay::instance()->formatDate(creationDate());
}

QString ZuSoundFile::displayModificationDate() const
{
    return ZuSoundFileDisplay::instance()->formatDate(modificationDate());
}

QString ZuSoundFile::displayPermissions() const
{
    static const char* const kTriplets[] = {"---", "--x", "-w-", "-wx", "r--", "r-x", "rw-", "rwx"};
    const QVariant value = attributes().value(QStringLiteral("posixPermissions"));
    if (!value.isValid())
        return QString();
    const unsigned mode = value.toUInt() & 0777;
    return Printf("%s%s%s (%o)", kTriplets[(mode >> 6) & 7], kTriplets[(mode >> 3) & 7], kTriplets[mode & 7], mode);
}

QString ZuSoundFile::displayValueForKey(const QString& key) const
{
    using Reader = QString (ZuSoundFile::*)() const;
    static const std::pair<const char*, Reader> kReaders[] = {
        {"displaySize", &ZuSoundFile::displaySize},
        {"displaySampleRate", &ZuSoundFile::displaySampleRate},
        {"displayChannels", &ZuSoundFile::displayChannels},
        {"displayWordSize", &ZuSoundFile::displayWordSize},
        {"displayBits", &ZuSoundFile::displayBits},
        {"displayBitRate", &ZuSoundFile::displayBitRate},
        {"displayRegions", &ZuSoundFile::displayRegions},
        {"displayMarkers", &ZuSoundFile::displayMarkers},
        {"displayLoops", &ZuSoundFile::displayLoops},
        {"displayHFSType", &ZuSoundFile::displayHFSType},
        {"displayHFSCreator", &ZuSoundFile::displayHFSCreator},
        {"displayCreationDate", &ZuSoundFile::displayCreationDate},
        {"displayModificationDate", &ZuSoundFile::displayModificationDate},
        {"displayPermissions", &ZuSoundFile::displayPermissions},
        {"name", &ZuSoundFile::name},
    };
    for (const auto& entry : kReaders)
        if (key == QLatin1String(entry.first))
            return (this->*entry.second)();
    if (key == QLatin1String("path"))
        return m_path;
    if (key == QLatin1String("descriptor"))
        return m_descriptor;
    if (key == QLatin1String("lengthStr"))
        return m_lengthStr;
    if (key == QLatin1String("timestamps"))
        return m_timestamps;
    return QString();
}

// ============================================================== sorting
QString ZuSoundFile::sortKey()
{
    std::lock_guard<std::mutex> lock(g_sortMutex);
    return g_sortKey;
}

void ZuSoundFile::setSortKey(const QString& key)
{
    std::lock_guard<std::mutex> lock(g_sortMutex);
    g_sortKey = key;
}

bool ZuSoundFile::ascendingSort()
{
    std::lock_guard<std::mutex> lock(g_sortMutex);
    return g_ascendingSort;
}

void ZuSoundFile::setAscendingSort(bool ascending)
{
    std::lock_guard<std::mutex> lock(g_sortMutex);
    g_ascendingSort = ascending;
}

int ZuSoundFile::compare(const ZuSoundFile* other) const
{
    const QString key = sortKey();
    const ZuSoundFile* a = this;
    const ZuSoundFile* b = other;
    if (!ascendingSort())
        std::swap(a, b);
    if (!a || !b) {
        // Only the unknown keys answer for a missing operand.
        if (!b)
            return -1;
        return 1;
    }
    if (key == QLatin1String("filename"))
        return Sign(QString::compare(a->name(), b->name(), Qt::CaseInsensitive));
    if (key == QLatin1String("playable"))
        return Order(int(a->m_isPlayable), int(b->m_isPlayable));
    if (key == QLatin1String("size"))
        return Order(a->m_size.value_or(0), b->m_size.value_or(0));
    if (key == QLatin1String("fileType"))
        return Sign(QString::compare(a->m_descriptor, b->m_descriptor, Qt::CaseSensitive));
    if (key == QLatin1String("sampleRate"))
        return Order(a->m_sampleRate, b->m_sampleRate);
    if (key == QLatin1String("channels"))
        return Order(int(a->m_numChannels), int(b->m_numChannels));
    if (key == QLatin1String("bits"))
        return Order(int(a->m_numBits), int(b->m_numBits));
    if (key == QLatin1String("length"))
        return Sign(QString::compare(a->m_lengthStr, b->m_lengthStr, Qt::CaseSensitive));
    if (key == QLatin1String("regions"))
        return Order(a->m_numRegions, b->m_numRegions);
    if (key == QLatin1String("timestamps"))
        return Sign(QString::compare(a->m_timestamps, b->m_timestamps, Qt::CaseSensitive));
    return 0;
}
