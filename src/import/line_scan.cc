#include "import/line_scan.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

inline bool IsLineBreak(char c) {
  return c == '\n' || c == '\r' || c == '\x1a';
}

}  // namespace

#if defined(__SSE2__)

namespace {

inline unsigned BreakMask16(const char* p) {
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('\n')),
                                                 _mm_cmpeq_epi8(block, _mm_set1_epi8('\r'))),
                                    _mm_cmpeq_epi8(block, _mm_set1_epi8('\x1a')));
  return static_cast<unsigned>(_mm_movemask_epi8(hits));
}

}  // namespace

std::uint64_t LineBreakMask64Sse2(const char* p) {
  return static_cast<std::uint64_t>(BreakMask16(p)) |
         static_cast<std::uint64_t>(BreakMask16(p + 16)) << 16 |
         static_cast<std::uint64_t>(BreakMask16(p + 32)) << 32 |
         static_cast<std::uint64_t>(BreakMask16(p + 48)) << 48;
}

#if defined(__x86_64__)

__attribute__((target("avx2"))) inline std::uint64_t BreakMask32(const char* p) {
  const __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i hits =
      _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(block, _mm256_set1_epi8('\n')),
                                      _mm256_cmpeq_epi8(block, _mm256_set1_epi8('\r'))),
                      _mm256_cmpeq_epi8(block, _mm256_set1_epi8('\x1a')));
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(hits));
}

__attribute__((target("avx2"))) std::uint64_t LineBreakMask64Avx2(const char* p) {
  return BreakMask32(p) | BreakMask32(p + 32) << 32;
}

using MaskFunction = std::uint64_t (*)(const char*);

// Chosen once: processors with AVX2 compare 32 bytes at a time.
const MaskFunction kLineBreakMask64 =
    __builtin_cpu_supports("avx2") ? LineBreakMask64Avx2 : LineBreakMask64Sse2;

std::uint64_t LineBreakMask64(const char* p) {
  return kLineBreakMask64(p);
}

#else

std::uint64_t LineBreakMask64(const char* p) {
  return LineBreakMask64Sse2(p);
}

#endif

unsigned TabMask16(const char* p) {
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('\t'))));
}

#else

std::uint64_t LineBreakMask64(const char* p) {
  std::uint64_t mask = 0;
  for (unsigned i = 0; i < 64; ++i) {
    if (IsLineBreak(p[i]))
      mask |= std::uint64_t{1} << i;
  }
  return mask;
}

unsigned TabMask16(const char* p) {
  unsigned mask = 0;
  for (unsigned i = 0; i < 16; ++i) {
    if (p[i] == '\t')
      mask |= 1u << i;
  }
  return mask;
}

#endif

const char* FindLineBreak(const char* begin, const char* end) {
  const char* p = begin;
  for (; end - p >= 64; p += 64) {
    std::uint64_t mask = LineBreakMask64(p);
    if (mask != 0)
      return p + LowestBit(mask);
  }
  while (p < end && !IsLineBreak(*p))
    ++p;
  return p;
}

const char* FindTab(const char* begin, const char* end) {
  const char* p = begin;
  for (; end - p >= 16; p += 16) {
    unsigned mask = TabMask16(p);
    if (mask != 0)
      return p + LowestBit(mask);
  }
  while (p < end && *p != '\t')
    ++p;
  return p;
}
