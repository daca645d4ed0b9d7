// What the processor offers beyond the x86-64 baseline the program is built for, asked
// once. The hot loops keep an SSE2 version for every machine and take a wider one where
// the processor has it; the results are the same byte for byte.
#pragma once

namespace emvtlv {

// Whether the AVX2 versions of the hex and scan loops may run (false off x86-64).
bool cpu_has_avx2() noexcept;

}  // namespace emvtlv
