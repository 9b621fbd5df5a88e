// The decoder against libbcg729: the same packed bit stream (made by
// bcg729's encoder) decoded by both, erasures and parity errors included.
// libbcg729 is written from the Recommendation's text with its own
// arithmetic rather than the reference code's: its post-filter computes the
// harmonic and tilt gains and the gain control's square root its own way,
// some of its products round where the reference truncates (the gain
// control's smoothing), and it saturates the synthesis instead of rescaling
// the excitation on an overflow.  So the outputs are close, not equal; the
// test reports how many frames differ and the SNR between the two, and
// bounds that SNR.
#include <gtest/gtest.h>

extern "C" {
#include <bcg729/decoder.h>
#include <bcg729/encoder.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "G729Bits.h"
#include "G729Decoder.h"
#include "G729SignalGenerator.h"

using namespace qm::g729;

namespace {

std::vector<uint8_t> encodeWithReference(const std::vector<int16_t>& pcm) {
  auto* enc = initBcg729EncoderChannel(0);
  std::vector<uint8_t> stream;
  uint8_t frame[10];
  for (size_t i = 0; i + kFrameLength <= pcm.size(); i += kFrameLength) {
    uint8_t len = 0;
    bcg729Encoder(enc, &pcm[i], frame, &len);
    stream.insert(stream.end(), frame, frame + 10);
  }
  closeBcg729EncoderChannel(enc);
  return stream;
}

struct Case {
  std::string name;
  std::vector<int16_t> pcm;
  int erasureEvery;  // 0: none
  int parityEvery;   // 0: none
};

class G729DecoderVsReference : public ::testing::TestWithParam<int> {};

Case makeCase(int i) {
  switch (i) {
    case 0: return {"speech", signals::speechLikeSignal(20, 1), 0, 0};
    case 1: return {"tonal", signals::tonalSignal(12), 0, 0};
    case 2: return {"speech-erasures", signals::speechLikeSignal(8, 7), 13, 0};
    default: return {"speech-parity", signals::speechLikeSignal(8, 3), 0, 11};
  }
}

TEST_P(G729DecoderVsReference, SamplesEqual) {
  Case c = makeCase(GetParam());
  std::vector<uint8_t> stream = encodeWithReference(c.pcm);
  const size_t frames = stream.size() / 10;
  auto* ref = initBcg729DecoderChannel();
  G729Decoder ours;
  size_t differingFrames = 0, firstDiff = SIZE_MAX;
  double signal = 0, noise = 0;
  for (size_t f = 0; f < frames; ++f) {
    uint8_t* bytes = &stream[f * 10];
    const bool erased = c.erasureEvery && f % c.erasureEvery == 5;
    if (c.parityEvery && f % c.parityEvery == 4) bytes[4] ^= 0x80 >> 2;  // the parity bit (bit 34)
    int16_t a[kFrameLength], b[kFrameLength];
    bcg729Decoder(ref, bytes, 10, erased ? 1 : 0, 0, 0, a);
    uint16_t params[kParameterCount];
    packedToParams(bytes, params);
    ours.decodeFrame(params, erased, b);
    for (int i = 0; i < kFrameLength; ++i) {
      signal += double(a[i]) * a[i];
      noise += double(a[i] - b[i]) * (a[i] - b[i]);
    }
    if (!std::equal(a, a + kFrameLength, b)) {
      ++differingFrames;
      if (firstDiff == SIZE_MAX) firstDiff = f;
    }
  }
  closeBcg729DecoderChannel(ref);
  const double snr = 10 * std::log10(signal / std::max(noise, 1e-9));
  std::printf("%s: %zu of %zu frames differ from libbcg729 (first %zu), SNR %.1f dB\n", c.name.c_str(),
              differingFrames, frames, firstDiff, snr);
  EXPECT_GT(snr, 20.0) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Signals, G729DecoderVsReference, ::testing::Range(0, 4));

}  // namespace

namespace {

TEST(G729Bits, LayoutsRoundTripAndErasureIsAZeroWord) {
  const uint16_t params[kParameterCount] = {0xA9, 0x3E2, 0x23, 1, 0x1ABC, 0xF, 0x56, 0x17, 0x0688, 0x1, 0x7C};
  uint16_t serial[kSerialWords];
  paramsToSerial(params, serial);
  EXPECT_EQ(serial[0], 0x6B21);
  EXPECT_EQ(serial[1], 80);
  EXPECT_EQ(serial[2], 0x0081);  // 0xA9: first bit 1
  EXPECT_EQ(serial[3], 0x007F);
  uint16_t back[kParameterCount];
  EXPECT_FALSE(serialToParams(serial + 2, back));
  EXPECT_TRUE(std::equal(params, params + kParameterCount, back));
  uint8_t packed[kPackedFrameBytes];
  paramsToPacked(params, packed);
  EXPECT_EQ(packed[0], 0xA9);
  packedToParams(packed, back);
  EXPECT_TRUE(std::equal(params, params + kParameterCount, back));
  serial[40] = 0;       // an erased bit
  serial[41] = 0x1234;  // an unknown word reads as 0
  EXPECT_TRUE(serialToParams(serial + 2, back));
  // Parity: (1 + ones in bits 2..7) & 1.
  EXPECT_EQ(pitchParityBit(0x23), 0);  // bits 2..7 of 00100011 hold one 1
  EXPECT_EQ(pitchParityBit(0xFC), 1);  // six 1s
}

}  // namespace
