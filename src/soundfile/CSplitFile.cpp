#include "CSplitFile.h"

#include "CreateSoundFile.h"
#include "error_code_exception.h"
#include "set_file_blocks.h"
#include "throw_helpers.h"

#include <QStringList>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>

namespace {

std::atomic<char> g_sonicPairDigit{0};

// A code narrowed to 16 bits that never reads as success.
OSErr Narrow(int32_t code)
{
    if (code == 0)
        return noErr;
    const OSErr narrow = OSErr(UInt16(UInt32(code) & 0xFFFF));
    return narrow == 0 ? ioErr : narrow;
}

// Cuts `length` characters at the first of `needles` that stands where a
// channel indicator stands; false when none does.
bool CutFirstOf(std::string* name, std::initializer_list<const char*> needles, std::size_t length)
{
    const std::size_t pos = CSplitFile::IndicatorPosition(*name, needles);
    if (pos == std::string::npos)
        return false;
    name->erase(pos, length);
    return true;
}

// A Pascal string as bytes.
std::string PascalBytes(ConstStr255Param p)
{
    return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

void SetPascalBytes(StringPtr p, const std::string& bytes)
{
    const std::size_t length = std::min<std::size_t>(bytes.size(), 255);
    p[0] = UInt8(length);
    std::memcpy(p + 1, bytes.data(), length);
}

} // namespace

// ========================================================== construction
CSplitFile::CSplitFile(OSType memberType)
    : CSetFile(memberType)
{
    m_numChannels = 2;
    m_channelConfiguration = kChannelConfigStereo;
}

CSplitFile::~CSplitFile()
{
    if (m_isOpen) {
        if (m_first)
            m_first->Close();
        if (m_second)
            m_second->Close();
    }
    if (m_readBuffer || m_writeBuffer) {
        if (m_first)
            m_first->FreeBuffers();
        if (m_second)
            m_second->FreeBuffers();
        CSoundFile::FreeBuffers();
    }
    DeleteMembers();
    m_isOpen = false;
}

void CSplitFile::DeleteMembers()
{
    m_members.clear();
    delete m_first;
    m_first = nullptr;
    delete m_second;
    m_second = nullptr;
    m_regionObjects.clear();
}

// ================================================================ names
std::size_t CSplitFile::IndicatorPosition(const std::string& name, std::initializer_list<const char*> indicators)
{
    std::size_t end = name.size();
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 &&
        GetReadableTypes().contains(QString::fromStdString(name.substr(dot + 1)).toLower()))
        end = dot;
    for (const char* indicator : indicators) {
        const std::size_t length = std::strlen(indicator);
        if (end >= length && name.compare(end - length, length, indicator) == 0)
            return end - length;
    }
    return std::string::npos;
}

std::string CSplitFile::StripLeftChannelSuffix(const std::string& name)
{
    std::string result = name;
    if (!CutFirstOf(&result, {".l", ".L", "-L", ".1"}, 2))
        CutFirstOf(&result, {"(l)", "(L)"}, 3);
    return result;
}

std::string CSplitFile::StripMemberIndicator(const std::string& name)
{
    std::string result = name;
    if (!CutFirstOf(&result, {".l", ".L", "-L", ".1", ".3", ".5", ".7"}, 2))
        CutFirstOf(&result, {"(l)", "(L)"}, 3);
    return result;
}

char CSplitFile::GetSonicPairDigit()
{
    return g_sonicPairDigit.load();
}

void CSplitFile::SetSonicPairDigit(char digit)
{
    g_sonicPairDigit.store(digit);
}

bool CSplitFile::HasOwnPairIndicators(OSType memberType)
{
    const QStringList suffixes =
        ::GetSoundFileProperties(memberType).value(QStringLiteral("splitStereoSuffixes")).toStringList();
    return suffixes.size() == 2 && !suffixes.at(0).isEmpty() && !suffixes.at(1).isEmpty();
}

void CSplitFile::PairIndicators(OSType memberType, std::string* left, std::string* right)
{
    *left = ".L";
    *right = ".R";
    if (HasOwnPairIndicators(memberType)) {
        const QStringList suffixes =
            ::GetSoundFileProperties(memberType).value(QStringLiteral("splitStereoSuffixes")).toStringList();
        *left = suffixes.at(0).toStdString();
        *right = suffixes.at(1).toStdString();
    }
    // Numbered pairs go on from the digit of the pair last named.
    if (std::isdigit(static_cast<unsigned char>(left->back()))) {
        if (const char digit = g_sonicPairDigit.exchange(0)) {
            left->back() = digit;
            right->back() = char(digit + 1);
        }
    }
}

void CSplitFile::MemberNames(const std::string& name, OSType memberType, std::string* left, std::string* right)
{
    const std::size_t p = IndicatorPosition(name, {".l", ".L", "(l)", "(L)", "-L", ".1", ".3", ".5", ".7"});

    if (p == std::string::npos) {
        // A base name: the member type's pair indicators follow it.
        PairIndicators(memberType, left, right);
        *left = name + *left;
        *right = name + *right;
        return;
    }

    const char c = name[p + 1];
    if (!std::isdigit(static_cast<unsigned char>(c)) && HasOwnPairIndicators(memberType)) {
        // A left indicator of another kind gives way to the type's own.
        const std::size_t length = name[p] == '(' ? 3 : 2;
        PairIndicators(memberType, left, right);
        *left = name.substr(0, p) + *left + name.substr(p + length);
        *right = name.substr(0, p) + *right + name.substr(p + length);
        return;
    }

    *left = name;
    *right = name;
    char& r = (*right)[p + 1];
    switch (c) {
    case '1': case '3': case '5': case '7':
        g_sonicPairDigit.store(c);
        r = char(c + 1);
        break;
    case 'L': r = 'R'; break;
    case 'l': r = 'r'; break;
    default: break;
    }
}

// ============================================================= identity
OSErr CSplitFile::SetFile(const FSSpec* spec)
{
    if (!spec)
        return paramErr;
    const FSSpec given = *spec;  // `spec` may be our own FSSpec
    DeleteMembers();

    // The set's own identity: the name without its left indicator.  Errors
    // of the folder show again when the members are given their names.
    FSSpec own = given;
    own.name = StripLeftChannelSuffix(given.name);
    CSoundFile::SetFile(&own);

    std::string leftName;
    std::string rightName;
    MemberNames(given.name, m_memberType, &leftName, &rightName);
    FSSpec leftSpec = given;
    leftSpec.name = leftName;
    FSSpec rightSpec = given;
    rightSpec.name = rightName;

    m_first = CreateSoundFileObject(m_memberType);
    if (!m_first)
        return kSplitLeftNotInitedErr;
    OSErr err = m_first->SetFile(&leftSpec);
    if (err) {
        DeleteMembers();
        return err;
    }
    m_second = CreateSoundFileObject(m_memberType);
    if (!m_second) {
        DeleteMembers();
        return kSplitRightNotInitedErr;
    }
    err = m_second->SetFile(&rightSpec);
    if (err) {
        DeleteMembers();
        return err;
    }
    m_members = {m_first, m_second};
    return noErr;
}

OSErr CSplitFile::SetFile(const FSRef* ref)
{
    const OSErr err = CSoundFile::SetFile(ref);
    if (err)
        return err;
    const FSSpec own = m_fsSpec;
    return SetFile(&own);
}

OSErr CSplitFile::SetFile(const std::string& path)
{
    const OSErr err = CSoundFile::SetFile(path);
    if (err)
        return err;
    const FSSpec own = m_fsSpec;
    return SetFile(&own);
}

OSErr CSplitFile::SetFile(const std::vector<std::string>& paths)
{
    if (paths.size() != 2)
        return paramErr;
    DeleteMembers();
    try {
        m_first = CreateSoundFileObject(m_memberType);
        THROW_IF_NULL(m_first, "left member of a split set");
        THROW_IF_ERROR(m_first->SetFile(paths[0]), "left member of a split set");
        m_second = CreateSoundFileObject(m_memberType);
        THROW_IF_NULL(m_second, "right member of a split set");
        THROW_IF_ERROR(m_second->SetFile(paths[1]), "right member of a split set");
        m_members = {m_first, m_second};
        return noErr;
    } catch (const error_code_exception& e) {
        DeleteMembers();
        return Narrow(e.code());
    }
}

// ========================================================== open/create
OSErr CSplitFile::Open()
{
    if (!m_first)
        return kSplitLeftNotInitedErr;
    if (!m_second)
        return kSplitRightNotInitedErr;
    OSErr err = m_first->Open();
    if (err)
        return err;
    err = m_second->Open();
    if (err) {
        m_first->Close();
        return err;
    }
    if (m_first->GetSampleRate() != m_second->GetSampleRate() ||
        m_first->GetNumBits() != m_second->GetNumBits() || m_first->GetNumChannels() != 1 ||
        m_second->GetNumChannels() != 1) {
        // Nothing may stay open behind a set that is not open.
        m_first->Close();
        m_second->Close();
        return kSplitNotConsistentErr;
    }
    m_numFrames = std::max(m_first->GetNumFrames(), m_second->GetNumFrames());
    m_numChannels = 2;
    m_numBits = m_first->GetNumBits();
    m_sampleRate = m_first->GetSampleRate();
    m_sampleFormat = m_first->GetState();
    m_bitRate = 0;
    m_isOpen = true;
    return noErr;
}

OSErr CSplitFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                         ConstStr255Param nameExtension, float sampleRate)
{
    if (!m_first)
        return kSplitLeftNotInitedErr;
    if (!m_second)
        return kSplitRightNotInitedErr;

    SharePairIdentifiers(m_first, m_second);

    // The set's own naming step; the members report their own results.
    CSoundFile::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);

    OSErr err = m_first->Create(1, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
    if (err)
        return err;
    err = m_second->Create(1, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
    if (err) {
        m_first->Close();
        return err;
    }
    m_numChannels = 2;
    m_numBits = m_first->GetNumBits();
    m_sampleRate = m_first->GetSampleRate() > 0 ? m_first->GetSampleRate() : double(sampleRate);
    m_sampleFormat = m_first->GetState();
    m_numFrames = 0;
    m_isOpen = true;
    return noErr;
}

OSErr CSplitFile::Close()
{
    const OSErr firstErr = m_first ? m_first->Close() : noErr;
    const OSErr secondErr = m_second ? m_second->Close() : noErr;
    m_isOpen = false;
    return firstErr ? firstErr : secondErr;
}

OSErr CSplitFile::CloseAndDelete(Boolean success)
{
    // Every member is closed and deleted, whatever the others answer.
    OSErr result = noErr;
    if (m_isOpen) {
        m_isOpen = false;
        m_members.clear();
        for (CSoundFile** slot : {&m_first, &m_second}) {
            if (!*slot)
                continue;
            CSoundFile* member = *slot;
            *slot = nullptr;
            const OSErr err = member->CloseAndDelete(success);
            if (err && !result)
                result = err;
        }
    }
    const OSErr own = CSoundFile::CloseAndDelete(success);  // deletes this
    return result ? result : own;
}

// ======================================================= identity (read)
void CSplitFile::GetFSSpec(FSSpec* spec) const
{
    if (!spec)
        return;
    if (!m_first) {
        CSoundFile::GetFSSpec(spec);
        return;
    }
    m_first->GetFSSpec(spec);
    spec->name = StripMemberIndicator(spec->name);
}

void CSplitFile::GetFileName(StringPtr name) const
{
    if (!name)
        return;
    Str255 own = {0};
    CSoundFile::GetFileName(own);
    if (!m_first) {
        std::memcpy(name, own, std::size_t(own[0]) + 1);
        return;
    }
    Str255 left = {0};
    m_first->GetFileName(left);
    std::string result = PascalBytes(own);
    if (result == PascalBytes(left)) {
        const std::size_t pos = IndicatorPosition(result, {".L", ".l", ".1", ".3", ".5", ".7"});
        if (pos != std::string::npos) {
            const char digit = result[pos + 1];
            result.erase(pos, 2);
            if (digit == '3')
                result += "_2";
            else if (digit == '5')
                result += "_3";
            else if (digit == '7')
                result += "_4";
        }
    }
    SetPascalBytes(name, result);
}

QString CSplitFile::GetName() const
{
    if (!m_first)
        return CSoundFile::GetName();
    return QString::fromStdString(WithoutLeadIndicator(m_first->GetName().toStdString()));
}

// =============================================================== blocks
OSErr CSplitFile::ProbeHeader(SInt16* result)
{
    if (!m_first)
        return kSplitLeftNotInitedErr;
    const OSErr err = m_first->ProbeHeader(result);
    m_sampleRate = m_first->GetSampleRate();
    m_numBits = m_first->GetNumBits();
    m_numFrames = m_first->GetNumFrames();
    m_numChannels = 2;
    return err;
}

// ========================================================= small answers
QString CSplitFile::GetFormatName() const
{
    return QStringLiteral("Split stereo ") + (m_first ? m_first->GetFormatName() : QString());
}

SInt32 CSplitFile::GetChannelKind() const
{
    return 4;
}

