// A sound file for the conversion tests: type code, channel kind, shape and
// regions are set directly; no audio.
#pragma once

#include "CSoundFile.h"

class ConvTestFile : public CSoundFile {
public:
    ConvTestFile(OSType type, UInt16 channels, SInt16 bits, double rate, UInt32 frames, SInt32 kind = -1)
        : type_(type), kind_(kind)
    {
        m_numChannels = channels;
        m_numBits = bits;
        m_sampleRate = rate;
        m_numFrames = frames;
    }

    void SetRefNum(SInt16 refNum) { m_refNum = refNum; }
    void AddTestRegion(UInt32 start, UInt32 end)
    {
        SFTRegion r;
        r.regionID = SInt32(GetNumRegions()) + 1;
        r.start = start;
        r.end = end;
        AddRegion(&r);
    }

    SInt32 GetChannelKind() const override
    {
        if (kind_ >= 0)
            return kind_;
        return CSoundFile::GetChannelKind();
    }
    OSErr Open() override { return noErr; }
    OSErr Close() override { return noErr; }
    OSErr ReadBlock(UInt32) override { return paramErr; }
    OSErr LoadWrittenFrames(UInt32, UInt32* held) override
    {
        *held = 0;
        return paramErr;
    }
    OSErr SetFilePos(UInt32) override { return noErr; }
    OSErr ProbeHeader(SInt16*) override { return noErr; }
    OSType GetFileType() const override { return type_; }
    QString GetFormatName() const override { return QStringLiteral("test"); }

private:
    OSType type_;
    SInt32 kind_;
};
