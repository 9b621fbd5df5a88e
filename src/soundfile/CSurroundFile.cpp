#include "CSurroundFile.h"

#include "CSplitFile.h"
#include "CreateSoundFile.h"
#include "error_code_exception.h"
#include "set_file_blocks.h"
#include "string_utils.h"
#include "throw_helpers.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

const char* const kMultichannelSetName = "Split Multichannel";

OSErr Narrow(int32_t code)
{
    if (code == 0)
        return noErr;
    const OSErr narrow = OSErr(UInt16(UInt32(code) & 0xFFFF));
    return narrow == 0 ? ioErr : narrow;
}

[[noreturn]] void ThrowSetError(const char* message, const char* file, int line)
{
    throw error_code_exception(paramErr, "%s (%s:%d)", message, path_file_name(file), line);
}
#define QM_SET_ERROR(message) ThrowSetError((message), __FILE__, __LINE__)

std::string LastComponent(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::mutex g_channelNamesMutex;
ZudbTable g_channelNames;

} // namespace

ZudbTable LoadChannelNamesTable()
{
    std::lock_guard<std::mutex> lock(g_channelNamesMutex);
    if (g_channelNames.empty()) {
        try {
            g_channelNames = ZudbTable(CSoundFile::GetResourcePathString("channelnames.zudb"));
        } catch (const error_code_exception&) {
            // No table: no channel names.
        }
    }
    return g_channelNames;
}

// ========================================================== construction
CSurroundFile::CSurroundFile(OSType memberType)
    : CSetFile(memberType)
{
}

CSurroundFile::~CSurroundFile()
{
    if (m_isOpen)
        Close();
    if (m_readBuffer || m_writeBuffer)
        FreeBuffers();
    DeleteMembers();
    m_isOpen = false;
}

void CSurroundFile::DeleteMembers()
{
    for (CSoundFile* member : m_members)
        delete member;
    m_members.clear();
    m_regionObjects.clear();
}

std::string CSurroundFile::StripLeftChannelSuffix(const std::string& name)
{
    return CSplitFile::StripLeftChannelSuffix(name);
}

// ============================================================= identity
OSErr CSurroundFile::SetFile(const std::vector<std::string>& paths)
{
    if (paths.size() > kMaxSurroundMembers)
        return tmfoErr;
    DeleteMembers();
    try {
        for (const std::string& path : paths) {
            CSoundFile* member = CreateSoundFileObject(m_memberType);
            THROW_IF_NULL(member, "member of a surround set");
            const OSErr err = member->SetFile(path);
            if (err) {
                delete member;
                THROW_IF_ERROR(err, "member of a surround set");
            }
            m_members.push_back(member);
        }
        return noErr;
    } catch (const error_code_exception& e) {
        return Narrow(e.code());
    }
}

OSErr CSurroundFile::MakeChannelFiles(const FSSpec* spec, SInt32 configuration, UInt32 count)
{
    if (!spec)
        return paramErr;
    const FSSpec given = *spec;
    DeleteMembers();

    FSSpec own = given;
    own.name = StripLeftChannelSuffix(given.name);
    CSoundFile::SetFile(&own);  // the folder's errors show again with the members
    m_fsSpec = own;
    SetChannelConfiguration(configuration);

    std::vector<std::string> names;
    if (configuration == kChannelConfigStereo) {
        // A pair is named as a split pair of its members' type is, so that
        // it reads back as one (Paris Take-L, Take-R).
        std::string left;
        std::string right;
        CSplitFile::PairIndicators(m_memberType, &left, &right);
        names = {own.name + left, own.name + right};
    } else if (configuration >= 1 && configuration <= 10) {
        ZudbTable table(bundle_resource_path("surround", "zudb"));
        ZudbTable rows = table.SelectRows("cc", std::to_string(configuration));
        std::vector<std::string> indicators;
        if (!rows.rows().empty())
            indicators = split_string(rows.rows().front()["indicators"], "|");
        for (const std::string& indicator : indicators)
            names.push_back(own.name + indicator);
    } else {
        if (count > kMaxSurroundMembers)
            return tmfoErr;
        for (UInt32 i = 0; i < count; ++i)
            names.push_back(own.name + "." + std::to_string(i + 1));
    }
    m_numChannels = UInt32(names.size());

    for (const std::string& name : names) {
        FSSpec memberSpec = own;
        memberSpec.name = name;
        CSoundFile* member = CreateSoundFileObject(m_memberType);
        if (!member)
            continue;
        const OSErr err = member->SetFile(&memberSpec);
        if (err) {
            delete member;
            return err;
        }
        m_members.push_back(member);
    }
    return noErr;
}

// ========================================================== open/create
OSErr CSurroundFile::Open()
{
    m_numChannels = UInt32(m_members.size());
    try {
        UInt32 frames = 0;
        for (std::size_t i = 0; i < m_members.size(); ++i) {
            CSoundFile* member = m_members[i];
            THROW_IF_ERROR(member->Open(), "member of a surround set");
            if (member->GetNumChannels() != 1)
                QM_SET_ERROR("files in a surround set must be mono");
            if (i == 0) {
                m_numBits = member->GetNumBits();
                m_sampleRate = member->GetSampleRate();
                m_sampleFormat = member->GetState();
            } else {
                if (member->GetNumBits() != m_numBits)
                    QM_SET_ERROR("files in a surround set must have same word size");
                if (member->GetSampleRate() != m_sampleRate)
                    QM_SET_ERROR("files in a surround set must have same sample rate");
                if (member->GetState() != m_sampleFormat)
                    QM_SET_ERROR("files in a surround set must have same data type");
            }
            frames = std::max(frames, member->GetNumFrames());
        }
        m_numFrames = frames;
        m_bitRate = 0;
        m_isOpen = true;
        return noErr;
    } catch (const error_code_exception& e) {
        for (CSoundFile* member : m_members)
            member->Close();
        return Narrow(e.code());
    }
}

OSErr CSurroundFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                            ConstStr255Param nameExtension, float sampleRate)
{
    // Every channel needs its member.
    if (m_members.size() != numChannels || numChannels == 0)
        return paramErr;

    if (m_numChannels == 2)
        SharePairIdentifiers(m_members[0], m_members[1]);

    m_numChannels = numChannels;
    m_numBits = numBits;
    m_sampleRate = sampleRate;
    const OSErr baseErr =
        CSoundFile::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
    if (baseErr)
        return baseErr;
    for (std::size_t i = 0; i < m_members.size(); ++i) {
        const OSErr err =
            m_members[i]->Create(1, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
        if (err) {
            for (std::size_t j = 0; j < i; ++j)
                m_members[j]->Close();
            return err;
        }
    }
    m_numBits = m_members.front()->GetNumBits();
    for (CSoundFile* member : m_members) {
        if (member->GetNumBits() != m_numBits) {
            for (CSoundFile* m : m_members)
                m->Close();
            return paramErr;
        }
    }
    m_sampleFormat = m_members.front()->GetState();
    m_numFrames = 0;
    m_isOpen = true;
    return noErr;
}

OSErr CSurroundFile::Close()
{
    OSErr result = noErr;
    for (CSoundFile* member : m_members) {
        const OSErr err = member->Close();
        if (err && err != fnOpnErr && err != kFileNotOpenedErr) {
            result = err;
            break;
        }
    }
    if (result)
        for (CSoundFile* member : m_members)
            member->Close();
    m_isOpen = false;
    return result;
}

OSErr CSurroundFile::CloseAndDelete(Boolean success)
{
    OSErr result = noErr;
    std::vector<CSoundFile*> members;
    members.swap(m_members);
    m_regionObjects.clear();
    m_isOpen = false;
    for (CSoundFile* member : members) {
        const OSErr err = member->CloseAndDelete(success);
        if (err && !result)
            result = err;
    }
    const OSErr own = CSoundFile::CloseAndDelete(success);  // deletes this
    return result ? result : own;
}

// ======================================================= identity (read)
void CSurroundFile::GetFSSpec(FSSpec* spec) const
{
    if (!spec)
        return;
    if (m_members.empty()) {
        CSoundFile::GetFSSpec(spec);
        return;
    }
    m_members.front()->GetFSSpec(spec);
    spec->name = CSplitFile::StripMemberIndicator(spec->name);
}

void CSurroundFile::GetFileName(StringPtr name) const
{
    if (!name)
        return;
    Str255 own = {0};
    CSoundFile::GetFileName(own);
    std::memcpy(name, own, std::size_t(own[0]) + 1);
}

QString CSurroundFile::GetName() const
{
    if (m_members.empty())
        return CSoundFile::GetName();
    return QString::fromStdString(WithoutLeadIndicator(m_members.front()->GetName().toStdString()));
}

std::string CSurroundFile::GetChannelName(UInt16 channel) const
{
    if (channel >= m_members.size())
        return std::string();
    const std::string number = std::to_string(unsigned(channel) + 1);
    std::string name;
    const std::string fileName = LastComponent(m_members[channel]->GetPath());
    if (m_setName == kMultichannelSetName) {
        name = number;
    } else {
        const std::string stem = GetExtension(QString::fromStdString(fileName)).toStdString();
        const std::size_t dot = stem.rfind('.');
        if (dot != std::string::npos) {
            const std::string suffix = stem.substr(dot);
            const ZudbTable table = LoadChannelNamesTable();
            for (const ZudbTable::Row& row : table.rows()) {
                const auto pattern = row.find("pattern");
                if (pattern == row.end() || pattern->second.empty())
                    continue;
                bool matched = false;
                try {
                    matched = regex_search(pattern->second.c_str(), suffix.c_str());
                } catch (const error_code_exception&) {
                    matched = false;  // a bad pattern in the table matches nothing
                }
                if (matched) {
                    const auto value = row.find("name");
                    if (value != row.end())
                        name = value->second;
                    break;
                }
            }
        }
        if (name.empty())
            name = number;
    }
    if (std::getenv("SurroundFileDebug"))
        name += " [" + fileName + "]";
    return name;
}

// =============================================================== blocks
OSErr CSurroundFile::ReadChannelFrames(UInt16 channel, UInt32 frame, UInt32* count, float* out)
{
    if (!count)
        return paramErr;
    if (channel >= m_members.size()) {
        *count = 0;
        return paramErr;
    }
    CSoundFile* member = m_members[channel];
    const UInt64 end = std::min<UInt64>(UInt64(frame) + *count, m_numFrames);
    UInt64 pos = frame;
    OSErr result = noErr;
    try {
        const std::size_t sampleBytes = CheckedSampleBytes();
        if (frame < end) {
            if (!out)
                THROW_IF_ERROR(paramErr);
            CheckMemberBlocks(member);
            THROW_IF_ERROR(member->AllocateReadBuffer());
        }
        const UInt32 memberFrames = member->GetNumFrames();
        const bool is146 = m_sampleFormat == kSampleFormat24In32;
        while (pos < end) {
            const UInt32 n = UInt32(std::min<UInt64>({UInt64(m_bufferFrames), UInt64(m_numFrames) - pos, end - pos}));
            float* dst = out + (pos - frame);
            if (pos >= memberFrames) {
                std::fill(dst, dst + n, 0.0f);
                pos += n;
                continue;
            }
            THROW_IF_ERROR(member->ReadBlockFor(UInt32(pos), n));
            const UInt8* p = member->GetReadBuffer();
            THROW_IF_NULL(p, "member block");
            const UInt32 valid = UInt32(std::min<UInt64>(n, UInt64(memberFrames) - pos));
            for (UInt32 i = 0; i < valid; ++i, p += sampleBytes) {
                switch (sampleBytes) {
                case 2: dst[i] = float(SInt16(UInt16((p[0] << 8) | p[1])) * 3.051758e-05); break;
                case 1: dst[i] = float(SInt8(p[0]) * 0.0078125); break;
                case 3: dst[i] = Int24ToFloat(p); break;
                default: {
                    UInt32 word = (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | UInt32(p[3]);
                    if (is146)
                        word <<= 8;
                    dst[i] = float(double(SInt32(word)) * 4.65661287308e-10);
                    break;
                }
                }
            }
            std::fill(dst + valid, dst + n, 0.0f);
            pos += n;
        }
    } catch (const error_code_exception& e) {
        result = Narrow(e.code());
    }
    *count = UInt32(pos - frame);
    return result;
}

OSErr CSurroundFile::ProbeHeader(SInt16* result)
{
    if (m_members.empty())
        return paramErr;
    CSoundFile* first = m_members.front();
    if (const OSErr err = first->ProbeHeader(result))
        return err;
    m_sampleRate = first->GetSampleRate();
    m_numBits = first->GetNumBits();
    m_numFrames = first->GetNumFrames();
    m_numChannels = UInt32(m_members.size());
    return noErr;
}

QString CSurroundFile::GetFormatName() const
{
    return QString::fromStdString(m_setName) + QLatin1Char(' ') +
           (m_members.empty() ? QString() : m_members.front()->GetFormatName());
}

SInt32 CSurroundFile::GetChannelKind() const
{
    return 5;
}

