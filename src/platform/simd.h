// Small vector helpers for the game's hot scans, with a plain fallback where
// the CPU has no SSE2.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// How many blocks of 32 cover n values (the helpers below take one block).
constexpr int Blocks32(int n) { return (n + 31) / 32; }

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

// Bit k set where the box lo_x[k] < x1, hi_x[k] > x0, lo_y[k] < y1 and
// hi_y[k] > y0 overlaps the open box (x0, x1) x (y0, y1), for 32 boxes.
inline uint32_t OverlapMask32(const int32_t* lo_x, const int32_t* hi_x, const int32_t* lo_y,
                              const int32_t* hi_y, int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
#if defined(__SSE2__)
  const __m128i vx0 = _mm_set1_epi32(x0), vx1 = _mm_set1_epi32(x1);
  const __m128i vy0 = _mm_set1_epi32(y0), vy1 = _mm_set1_epi32(y1);
  auto load = [](const int32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
  uint32_t mask = 0;
  for (int k = 0; k < 32; k += 4) {
    const __m128i in_x = _mm_and_si128(_mm_cmplt_epi32(load(lo_x + k), vx1), _mm_cmpgt_epi32(load(hi_x + k), vx0));
    const __m128i in_y = _mm_and_si128(_mm_cmplt_epi32(load(lo_y + k), vy1), _mm_cmpgt_epi32(load(hi_y + k), vy0));
    mask |= uint32_t(_mm_movemask_ps(_mm_castsi128_ps(_mm_and_si128(in_x, in_y)))) << k;
  }
  return mask;
#else
  uint32_t mask = 0;
  for (int k = 0; k < 32; ++k)
    mask |= uint32_t(lo_x[k] < x1 && hi_x[k] > x0 && lo_y[k] < y1 && hi_y[k] > y0) << k;
  return mask;
#endif
}
