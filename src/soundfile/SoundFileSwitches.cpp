#include "SoundFileSwitches.h"

#include <atomic>

namespace {
std::atomic<bool> gProcessFileIfNoRegions{false};
std::atomic<bool> gSkipBadRegion{false};
std::atomic<bool> gIgnoreRegionsContainingWholeFile{false};
std::atomic<bool> gRecognizeNumberFilesAsSplit{false};
} // namespace

void SetProcessFileIfNoRegions(bool on) { gProcessFileIfNoRegions = on; }
bool GetProcessFileIfNoRegions() { return gProcessFileIfNoRegions; }

void SetSkipBadRegion(long value) { gSkipBadRegion = (value == 1); }
bool GetSkipBadRegion() { return gSkipBadRegion; }

void SetIgnoreRegionsContainingWholeFile(bool on) { gIgnoreRegionsContainingWholeFile = on; }
bool GetIgnoreRegionsContainingWholeFile() { return gIgnoreRegionsContainingWholeFile; }

void SetRecognizeNumberFilesAsSplit(bool on) { gRecognizeNumberFilesAsSplit = on; }
bool GetRecognizeNumberFilesAsSplit() { return gRecognizeNumberFilesAsSplit; }
