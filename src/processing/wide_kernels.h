// Which vector kernels the filters' dot products run in: the baseline ones
// (SSE2 on x86-64, plain loops elsewhere), the wide ones (AVX2 with FMA)
// where the processor has them, and where it also has AVX-512VL, wide ones
// that keep more partial sums in its 32 vector registers.  Tests and
// benchmarks cap the level to compare the kernels.
#pragma once

enum class KernelLevel {
    Baseline,
    Wide,             // AVX2 and FMA
    WideManyRegisters // AVX2 and FMA with AVX-512VL's 32 registers
};

// The widest level the processor has, within the cap.
KernelLevel KernelsInUse();

// Caps the level at `most`; returns the previous cap.
KernelLevel LimitKernels(KernelLevel most);
