// Small vector helpers for the game's hot scans, with a plain fallback where
// the CPU has no SSE2.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Bit k set where p[k] == v, for the 32 values p[0..31].
inline uint32_t EqualMask32(const int32_t* p, int32_t v) {
#if defined(__SSE2__)
  const __m128i want = _mm_set1_epi32(v);
  uint32_t mask = 0;
  for (int k = 0; k < 32; k += 4) {
    const __m128i got = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
    const int four = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(got, want)));
    mask |= uint32_t(four) << k;
  }
  return mask;
#else
  uint32_t mask = 0;
  for (int k = 0; k < 32; ++k) mask |= uint32_t(p[k] == v) << k;
  return mask;
#endif
}
