#include "RawFileSettings.h"

#include <atomic>

namespace {

constexpr OSType kInitFileType = RawFileSettings::kDefaultFileType;
constexpr double kInitSampleRate = 44100.0;
constexpr UInt32 kInitBigEndian = 1;
constexpr UInt32 kInitWordSize = 16;
constexpr SInt32 kInitAction = 0;
// Left open by the preferences' description; one channel is the only
// value that reads any raw file without misinterpreting its frames.
constexpr UInt32 kInitNumChannels = 1;

std::atomic<OSType> gFileType{kInitFileType};
std::atomic<double> gSampleRate{kInitSampleRate};
std::atomic<UInt32> gBigEndian{kInitBigEndian};
std::atomic<UInt32> gWordSize{kInitWordSize};
std::atomic<SInt32> gAction{kInitAction};
std::atomic<UInt32> gNumChannels{kInitNumChannels};

} // namespace

RawFileSettings::Values RawFileSettings::Instance()
{
    return Values{gFileType, gSampleRate, gBigEndian, gWordSize, gAction, gNumChannels};
}

void RawFileSettings::Init()
{
    gFileType = kInitFileType;
    gSampleRate = kInitSampleRate;
    gBigEndian = kInitBigEndian;
    gWordSize = kInitWordSize;
    gAction = kInitAction;
    gNumChannels = kInitNumChannels;
}

OSType RawFileSettings::FileType() { return gFileType; }
void RawFileSettings::SetFileType(OSType type) { gFileType = type; }
double RawFileSettings::SampleRate() { return gSampleRate; }
void RawFileSettings::SetSampleRate(double rate) { gSampleRate = rate; }
UInt32 RawFileSettings::BigEndian() { return gBigEndian; }
void RawFileSettings::SetBigEndian(UInt32 bigEndian) { gBigEndian = bigEndian; }
UInt32 RawFileSettings::NumBits() { return gWordSize; }
void RawFileSettings::SetNumBits(UInt32 bits) { gWordSize = bits; }
SInt32 RawFileSettings::Action() { return gAction; }
void RawFileSettings::SetAction(SInt32 action) { gAction = action; }
UInt32 RawFileSettings::NumChannels() { return gNumChannels; }
void RawFileSettings::SetNumChannels(UInt32 channels) { gNumChannels = channels; }

void RawFileSettings::Release()
{
    Init();
}
