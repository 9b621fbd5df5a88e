// Constants and tables of the G.729 Annex A codec (8 kbit/s CS-ACELP).
#pragma once

#include <cstdint>

namespace qm::g729 {

constexpr int kFrameLength = 80;  // samples per 10 ms frame
constexpr int kSubframeLength = 40;
constexpr int kWindowLength = 240;  // LPC analysis window
constexpr int kLookAhead = 40;
constexpr int kOrder = 10;  // LPC order
constexpr int kOrderPlus1 = 11;
constexpr int kPitchMin = 20;
constexpr int kPitchMax = 143;
constexpr int kInterpolationLength = 11;  // L_INTERPOL: 10 + 1
constexpr int kInterpolationTaps = 31;  // 3 * 10 + 1
constexpr int kParameterCount = 11;
constexpr int kSerialWords = 82;
constexpr int kGridPoints = 50;
constexpr int kCodebook1Size = 128;
constexpr int kCodebook2Size = 32;
constexpr int kMaPredictorOrder = 4;
constexpr int kGainCodebook1Size = 8;
constexpr int kGainCodebook2Size = 16;
constexpr int kGainCandidates1 = 4;
constexpr int kGainCandidates2 = 8;
constexpr int16_t kSharpMax = 13017;  // 0.8 in Q14
constexpr int16_t kSharpMin = 3277;  // 0.2 in Q14

extern const int16_t kHammingWindow[kWindowLength];
extern const int16_t kLagWindowHi[kOrder + 2];
extern const int16_t kLagWindowLo[kOrder + 2];
extern const int16_t kCosTable[65];
extern const int16_t kCosSlope[64];
extern const int16_t kAcosSlope[64];
extern const int16_t kLspCodebook1[kCodebook1Size][kOrder];
extern const int16_t kLspCodebook2[kCodebook2Size][kOrder];
extern const int16_t kLspPredictor[2][kMaPredictorOrder][kOrder];
extern const int16_t kLspPredictorSum[2][kOrder];
extern const int16_t kLspPredictorSumInverse[2][kOrder];
extern const int16_t kLspGrid[kGridPoints + 1];
extern const int16_t kLsfInitial[kOrder];
extern const int16_t kLspInitial[kOrder];
extern const int16_t kInterpolation3[kInterpolationTaps];
extern const int16_t kGainPredictor[4];
extern const int16_t kGainCodebook1[kGainCodebook1Size][2];
extern const int16_t kGainCodebook2[kGainCodebook2Size][2];
extern const int16_t kGainMap1[kGainCodebook1Size];
extern const int16_t kGainMap2[kGainCodebook2Size];
extern const int16_t kGainInverseMap1[kGainCodebook1Size];
extern const int16_t kGainInverseMap2[kGainCodebook2Size];
extern const int16_t kGainLineCoefficients[2][2];
extern const int32_t kGainLineCoefficients32[2][2];
extern const int16_t kGainThresholds1[kGainCodebook1Size - kGainCandidates1];
extern const int16_t kGainThresholds2[kGainCodebook2Size - kGainCandidates2];
extern const int16_t kPostProcessB[3];
extern const int16_t kPostProcessA[3];
extern const int16_t kPreProcessB[3];
extern const int16_t kPreProcessA[3];
extern const int16_t kParameterBits[kParameterCount];
extern const int16_t kPowerTable[33];
extern const int16_t kLogTable[33];
extern const int16_t kInverseSqrtTable[49];
extern const int16_t kTamingZone[kPitchMax + kInterpolationLength - 1];

}  // namespace qm::g729
