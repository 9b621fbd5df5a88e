// main() of a fuzz target in builds without libFuzzer: a deterministic
// mutation run over the target's seeds.
#include "FuzzTarget.h"

#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

void Run(const std::string& input)
{
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

} // namespace

int main(int argc, char** argv)
{
    long mutations = 300;
    if (const char* env = std::getenv("QM_FUZZ_MUTATIONS"))
        mutations = std::atol(env);
    std::mt19937 rng(12345);
    size_t runs = 0;
    for (const std::string& seed : FuzzSeeds()) {
        Run(seed);
        ++runs;
        // Every truncation of the first 1 KiB, then coarser steps.
        for (size_t n = 0; n < seed.size(); n += (n < 1024 ? 1 : 61)) {
            Run(seed.substr(0, n));
            ++runs;
        }
        if (seed.empty())
            continue;
        static const unsigned char kInteresting[] = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0xFE};
        for (long m = 0; m < mutations; ++m) {
            std::string s = seed;
            int edits = 1 + static_cast<int>(rng() % 4);
            for (int e = 0; e < edits; ++e) {
                size_t at = rng() % s.size();
                switch (rng() % 3) {
                case 0: s[at] = static_cast<char>(rng() & 0xFF); break;
                case 1: s[at] = static_cast<char>(kInteresting[rng() % sizeof kInteresting]); break;
                default: // a 32-bit field set to an extreme
                    for (size_t k = 0; k < 4 && at + k < s.size(); ++k)
                        s[at + k] = static_cast<char>((rng() & 1) ? 0xFF : 0x7F);
                }
            }
            Run(s);
            ++runs;
        }
    }
    std::printf("%zu inputs run\n", runs);
    return 0;
}
