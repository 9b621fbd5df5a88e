// A test format whose "files" live in a process-wide store keyed by path:
// Open takes the shape and samples stored under the object's path, Create
// and Close store what was written.  Lets the set files be driven through
// CreateSoundFileObject without a real format.  It registers under 'sfil',
// whose properties give no name extension.
#pragma once

#include "MemorySoundFile.h"
#include "SoundFileRegistry.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class PathMemoryFile : public MemorySoundFile {
public:
    static constexpr OSType kStoreType = FOUR_CHAR_CODE("sfil");

    struct Entry {
        UInt16 channels = 1;
        SInt16 bits = 16;
        double rate = 44100.0;
        SInt16 sampleFormat = 0;
        std::vector<UInt8> data;
        std::vector<SFTRegion> regions;
        OSErr openError = noErr;   // what Open answers instead of opening
        OSErr closeError = noErr;  // what Close answers
    };

    static std::map<std::string, Entry>& store()
    {
        static std::map<std::string, Entry> entries;
        return entries;
    }
    // Called by every Open with the path, before the store is read (tests
    // use it to hold an examination half-way).
    static std::function<void(const std::string&)>& openHook()
    {
        static std::function<void(const std::string&)> hook;
        return hook;
    }
    static int& liveCount()
    {
        static int count = 0;
        return count;
    }

    static CSoundFile* Make() { return new PathMemoryFile(kStoreType); }
    static CSoundFile* MakeBWLN() { return new PathMemoryFile(FOUR_CHAR_CODE("BWLN")); }
    static void Register()
    {
        RegisterSoundFileFactory(kStoreType, &Make);
        RegisterSoundFileFactory(FOUR_CHAR_CODE("BWLN"), &MakeBWLN);
    }

    // A mono 16-bit entry whose samples are the given values.
    static void PutMono16(const std::string& path, const std::vector<SInt16>& samples, double rate = 44100.0)
    {
        Entry entry;
        entry.rate = rate;
        for (SInt16 s : samples) {
            entry.data.push_back(UInt8(UInt16(s) >> 8));
            entry.data.push_back(UInt8(UInt16(s) & 0xFF));
        }
        store()[path] = entry;
    }

    explicit PathMemoryFile(OSType type) : m_type(type) { ++liveCount(); }
    ~PathMemoryFile() override { --liveCount(); }

    OSErr Open() override
    {
        auto it = store().find(GetPath());
        if (it == store().end())
            return fnfErr;
        if (openHook())
            openHook()(GetPath());
        const Entry& entry = it->second;
        if (entry.openError)
            return entry.openError;
        SetShape(entry.channels, entry.bits, entry.rate);
        SetSampleFormat(entry.sampleFormat);
        SetData(entry.data);
        // As a format does from its header.
        if (entry.channels <= 2)
            SetChannelConfiguration(entry.channels == 1 ? kChannelConfigMono : kChannelConfigStereo);
        for (const SFTRegion& region : entry.regions)
            AddRegion(&region);
        m_isOpen = true;
        m_created = false;
        return noErr;
    }

    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* specifics,
                 ConstStr255Param extension, float sampleRate) override
    {
        const OSErr err = CSoundFile::Create(numChannels, numBits, reserved, specifics, extension, sampleRate);
        if (err)
            return err;
        if (store().count(GetPath()))
            return dupFNErr;
        if (failCreate)
            return failCreate;
        SetShape(numChannels, numBits, sampleRate);
        data.clear();
        m_numFrames = 0;
        store()[GetPath()] = Entry{numChannels, numBits, double(sampleRate), 0, {}, {}, noErr, noErr};
        m_isOpen = true;
        m_created = true;
        return noErr;
    }

    OSErr Close() override
    {
        if (!m_isOpen)
            return kFileNotOpenedErr;
        auto it = store().find(GetPath());
        const OSErr result = it == store().end() ? noErr : it->second.closeError;
        if (m_created && it != store().end()) {
            it->second.data = data;
            it->second.channels = GetNumChannels();
            it->second.bits = GetNumBits();
        }
        m_isOpen = false;
        return result;
    }

    // With garbageTail set, a block read near the end holds junk past the
    // file's end (as a careless format might leave it).
    OSErr ReadBlock(UInt32 frame) override
    {
        const OSErr err = MemorySoundFile::ReadBlock(frame);
        if (err || !garbageTail())
            return err;
        const std::size_t fb = FrameBytes();
        const std::size_t valid = frame < m_numFrames ? std::min<std::size_t>(GetBufferFrames(), m_numFrames - frame) : 0;
        std::memset(GetReadBuffer() + valid * fb, 0x55, (GetBufferFrames() - valid) * fb);
        return noErr;
    }
    static bool& garbageTail()
    {
        static bool flag = false;
        return flag;
    }

    OSType GetFileType() const override { return m_type; }
    QString GetFormatName() const override { return QStringLiteral("Memory"); }

    OSErr failCreate = noErr;

private:
    OSType m_type;
    bool m_created = false;
};
