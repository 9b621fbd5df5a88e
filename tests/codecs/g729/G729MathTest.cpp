// The saturating operators at their edges, the closed-form division against
// the restoring division it replaces, and the table functions against libm.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "G729Math.h"

using namespace qm::g729;

TEST(G729Math, SaturationEdgesSetTheOverflowFlag)
{
  gOverflow = false;
  EXPECT_EQ(add(32000, 1000), 32767);
  EXPECT_TRUE(gOverflow);
  gOverflow = false;
  EXPECT_EQ(mult(-32768, -32768), 32767);
  EXPECT_TRUE(gOverflow);
  gOverflow = false;
  EXPECT_EQ(L_mult(-32768, -32768), kMax32);
  EXPECT_TRUE(gOverflow);
  gOverflow = false;
  EXPECT_EQ(L_add(kMax32, 1), kMax32);
  EXPECT_EQ(L_sub(kMin32, 1), kMin32);
  EXPECT_EQ(L_shl(0x40000000, 1), kMax32);
  EXPECT_EQ(shl(-16384, 2), -32768);
  EXPECT_TRUE(gOverflow);
  gOverflow = false;
  EXPECT_EQ(L_mac(0, 3, 4), 24);
  EXPECT_EQ(shr(-1, 20), -1);
  EXPECT_EQ(L_shr_r(5, 1), 3);
  EXPECT_EQ(norm_l(1), 30);
  EXPECT_EQ(norm_s(-1), 15);
  EXPECT_EQ(abs_s(-32768), 32767);
  EXPECT_FALSE(gOverflow);
  // The exact-sum shortcut and the saturating chain agree, saturating or not.
  const Word16 big[3] = {32767, 32767, 32767};
  EXPECT_EQ(macSeries(0, big, 1, big, 1, 3), kMax32);
  const Word16 x[3] = {100, -200, 300}, y[3] = {7, 8, -9};
  EXPECT_EQ(macSeries(5, x, 1, y, 1, 3), 5 + 2 * (700 - 1600 - 2700));
}

TEST(G729Math, DivisionEqualsTheRestoringDivision)
{
  uint32_t rng = 3;
  for (int n = 0; n < 200000; ++n) {
    rng = rng * 1664525u + 1013904223u;
    Word16 den = Word16(1 + (rng >> 17) % 32767);
    rng = rng * 1664525u + 1013904223u;
    Word16 num = Word16((rng >> 16) % (uint32_t(den) + 1));
    Word16 q = 0;  // the reference's fifteen steps
    if (num == den) {
      q = kMax16;
    } else if (num != 0) {
      Word32 r = num;
      for (int i = 0; i < 15; ++i) {
        q = Word16(q << 1);
        r <<= 1;
        if (r >= den) {
          r -= den;
          q = Word16(q + 1);
        }
      }
    }
    ASSERT_EQ(div_s(num, den), q) << num << "/" << den;
  }
}

TEST(G729Math, TableFunctionsFollowLibm)
{
  for (Word32 v : {1, 1000, 123456, 1 << 20, 0x3fffffff, kMax32}) {
    Word16 e, f;
    Log2(v, e, f);
    EXPECT_NEAR(e + f / 32768.0, std::log2(double(v)), 1e-3) << v;
    EXPECT_NEAR(double(Pow2(e, f)), double(v), double(v) * 2e-3 + 2) << v;
    const double inv = double(Inv_sqrt(v)) / double(1 << 30);  // 1/sqrt(v) in Q30
    EXPECT_NEAR(inv * std::sqrt(double(v)), 1.0, 2e-3) << v;
  }
}
