#include "common/cpu.h"

namespace emvtlv {
namespace {

bool processor_has_avx2() noexcept {
#if defined(EMVTLV_AVX2_PATHS)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}

bool& use_avx2() noexcept {
  static bool use = processor_has_avx2();
  return use;
}

}  // namespace

bool cpu_has_avx2() noexcept {
  return use_avx2();
}

void cpu_use_avx2(bool wanted) noexcept {
  use_avx2() = wanted && processor_has_avx2();
}

}  // namespace emvtlv
