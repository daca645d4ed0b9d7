#include "common/cpu.h"

namespace emvtlv {

bool cpu_has_avx2() noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
#else
  return false;
#endif
}

}  // namespace emvtlv
