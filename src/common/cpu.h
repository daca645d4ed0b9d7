// What the processor offers beyond the x86-64 baseline the program is built for, asked
// once. The hot loops keep an SSE2 version for every machine and take a wider one where
// the processor has it; the results are the same byte for byte.
#pragma once

// Where the compiler can build AVX2 code for single functions beside the baseline.
#if defined(__x86_64__) && defined(__GNUC__)
#define EMVTLV_AVX2_PATHS 1
#endif

namespace emvtlv {

// Whether the AVX2 versions of the hex and scan loops run (false off x86-64).
bool cpu_has_avx2() noexcept;

// Turns the AVX2 versions off, or back on where the processor has them: lets the tests
// run the baseline loops on any machine and compare the two.
void cpu_use_avx2(bool wanted) noexcept;

}  // namespace emvtlv
