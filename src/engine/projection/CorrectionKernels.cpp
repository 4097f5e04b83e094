#include "engine/projection/CorrectionKernels.h"

#include <algorithm>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define TALVIKS_AVX2_ROWS 1
#endif

namespace {

constexpr uint32_t kOne = 1000000;
constexpr uint32_t kFractionMask = (1u << 20) - 1;
constexpr int kGroup = CorrectionRows::kGroup;

inline uint32_t sourceOf(const CorrectionRows& t, const CorrectionRows::Group& group, int lane)
{
    if (group.source & CorrectionRows::kListed)
        return t.listed[(group.source & ~CorrectionRows::kListed) + unsigned(lane)];
    return group.source + unsigned(lane) + uint32_t(t.steps[(group.lanes >> (4 * lane)) & 7]);
}

inline uint8_t masked(uint32_t v, const uint8_t* mask, size_t x)
{
    return static_cast<uint8_t>(mask ? (v * mask[x] + 254) / 255 : v);
}

inline uint64_t eightBytes(const uint8_t* p)
{
    uint64_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

// Groups surveyed at a time: their fractions are asked for while the
// survey goes on, and have arrived when the pixels are worked out.
constexpr size_t kSurvey = 256;
// A group whose four neighbourhoods are not one value.
constexpr uint16_t kMixed = 0x100;

// For groups [from, to) of a row: the value under each group where its
// sources are eight consecutive pixels whose neighbourhoods all hold that
// value (the black around a part, the inside of one: most of a layer), else
// kMixed. Only mixed groups need their fractions, so only theirs are fetched.
void survey(const CorrectionRows::Group* groups, const CorrectionRows::Fractions* fractions, const uint8_t* src,
            size_t down, size_t from, size_t to, uint16_t* values)
{
    for (size_t g = from; g < to; ++g) {
        uint16_t value = kMixed;
        if ((groups[g].lanes & 0x77777777u) == 0) {
            const uint8_t* p = src + groups[g].source;
            const uint64_t top = eightBytes(p);
            if (top == eightBytes(p + 1) && top == eightBytes(p + down) && top == eightBytes(p + down + 1))
                value = uint16_t(top & 0xFF);
        }
        if (value == kMixed)
            __builtin_prefetch(&fractions[g]);
        values[g - from] = value;
    }
}

} // namespace

void correctRowsPortable(const CorrectionRows& t, const uint8_t* src, uint8_t* dst, int first, int end,
                         const uint8_t* mask)
{
    const size_t down = static_cast<size_t>(t.width);
    uint16_t values[kSurvey];
    for (int y = first; y < end; ++y, dst += down, mask = mask ? mask + down : nullptr) {
        const CorrectionRows::Group* groups = t.groups + t.groupsPerRow * size_t(y);
        const CorrectionRows::Fractions* fractions = t.fractions + t.groupsPerRow * size_t(y);
        for (size_t from = 0; from < t.groupsPerRow; from += kSurvey) {
            const size_t to = std::min(t.groupsPerRow, from + kSurvey);
            survey(groups, fractions, src, down, from, to, values);
            for (size_t g = from; g < to; ++g) {
                const size_t x0 = g * kGroup;
                const size_t lanes = std::min<size_t>(kGroup, down - x0);
                for (size_t lane = 0; lane < lanes; ++lane) {
                    const size_t x = x0 + lane;
                    const bool live = (groups[g].lanes >> (4 * lane)) & CorrectionRows::kLive;
                    if (values[g - from] != kMixed) {
                        // Weights that add up to one million of one value: the value.
                        dst[x] = live ? masked(values[g - from], mask, x) : 0;
                        continue;
                    }
                    const uint8_t* s = src + sourceOf(t, groups[g], int(lane));
                    const uint32_t low = fractions[g].low[lane];
                    const uint32_t fx = low & kFractionMask;
                    const uint32_t fy = (low >> 20) | uint32_t{fractions[g].high[lane]} << 12;
                    const uint32_t w11 = uint32_t(uint64_t{fx} * fy / kOne);
                    const uint32_t w00 = (live ? kOne : 0) - fx - fy + w11;
                    const uint32_t v = w00 * s[0] + (fx - w11) * s[1] + (fy - w11) * s[down] + w11 * s[down + 1];
                    // The weights add up to one million, so v / 1,000,000 never passes 255.
                    dst[x] = masked(v / kOne, mask, x);
                }
            }
        }
    }
}

#ifdef TALVIKS_AVX2_ROWS

namespace {

#define AVX2 __attribute__((target("avx2")))
#define AVX2_INLINE static inline __attribute__((target("avx2"), always_inline))

// Eight bytes from p on, one per 32-bit lane.
AVX2_INLINE __m256i eightFrom(const uint8_t* p)
{
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}

// Eight pixels from p where `fromP` is set, from q elsewhere.
AVX2_INLINE __m256i eightFromEither(const uint8_t* p, const uint8_t* q, __m256i fromP)
{
    return _mm256_blendv_epi8(eightFrom(q), eightFrom(p), fromP);
}

// The four neighbourhoods of a group's eight pixels, one pixel per lane.
struct Neighbours
{
    __m256i s0, s1, s2, s3;
};

// Sources of a group that are not eight consecutive pixels.
AVX2_INLINE Neighbours scattered(const CorrectionRows& t, const uint8_t* src, const CorrectionRows::Group& group,
                                 __m256i codes)
{
    const size_t down = static_cast<size_t>(t.width);
    const __m256i lastCode = _mm256_permutevar8x32_epi32(codes, _mm256_set1_epi32(7));
    const __m256i unmoved = _mm256_cmpeq_epi32(codes, _mm256_setzero_si256());
    const __m256i twoRuns = _mm256_or_si256(unmoved, _mm256_cmpeq_epi32(codes, lastCode));
    const uint32_t last = (group.lanes >> 28) & 7;
    Neighbours n;
    if (_mm256_movemask_ps(_mm256_castsi256_ps(twoRuns)) == 0xFF && last != CorrectionRows::kListedCode) {
        // Where the warp steps a column or row: consecutive sources on both
        // sides of the step (the table keeps both runs inside the plane).
        const uint8_t* p = src + group.source;
        const uint8_t* q = p + t.steps[last];
        n.s0 = eightFromEither(p, q, unmoved);
        n.s1 = eightFromEither(p + 1, q + 1, unmoved);
        n.s2 = eightFromEither(p + down, q + down, unmoved);
        n.s3 = eightFromEither(p + down + 1, q + down + 1, unmoved);
        return n;
    }
    __m256i index;
    if (group.source & CorrectionRows::kListed)
        index = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t.listed + (group.source & ~CorrectionRows::kListed)));
    else
        index = _mm256_add_epi32(
            _mm256_add_epi32(_mm256_set1_epi32(int(group.source)), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)),
            _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(t.steps)), codes));
    // Four bytes from each source: the pixel and its right neighbour.
    const __m256i byteMask = _mm256_set1_epi32(0xFF);
    const __m256i upper = _mm256_i32gather_epi32(reinterpret_cast<const int*>(src), index, 1);
    const __m256i lower = _mm256_i32gather_epi32(reinterpret_cast<const int*>(src + down), index, 1);
    n.s0 = _mm256_and_si256(upper, byteMask);
    n.s1 = _mm256_and_si256(_mm256_srli_epi32(upper, 8), byteMask);
    n.s2 = _mm256_and_si256(lower, byteMask);
    n.s3 = _mm256_and_si256(_mm256_srli_epi32(lower, 8), byteMask);
    return n;
}

// The weighted sums of a group divided by one million, one pixel per lane.
AVX2_INLINE __m256i resampled(const CorrectionRows::Fractions& f, const Neighbours& n, __m256i live)
{
    const __m256i one = _mm256_set1_epi32(int(kOne));
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(f.low));
    const __m256i fx = _mm256_and_si256(low, _mm256_set1_epi32(int(kFractionMask)));
    const __m256i fy = _mm256_or_si256(_mm256_srli_epi32(low, 20), _mm256_slli_epi32(eightFrom(f.high), 12));
    // w11 = fx x fy / 1,000,000: a float estimate within one of it, put
    // right by the remainder, which 32 bits hold whatever the product's top.
    __m256i w11 = _mm256_cvttps_epi32(_mm256_mul_ps(
        _mm256_mul_ps(_mm256_cvtepi32_ps(fx), _mm256_cvtepi32_ps(fy)), _mm256_set1_ps(1.0f / float(kOne))));
    const __m256i rest = _mm256_sub_epi32(_mm256_mullo_epi32(fx, fy), _mm256_mullo_epi32(w11, one));
    w11 = _mm256_add_epi32(w11, _mm256_cmpgt_epi32(_mm256_setzero_si256(), rest)); // rest < 0: one less
    w11 = _mm256_sub_epi32(w11, _mm256_cmpgt_epi32(rest, _mm256_set1_epi32(int(kOne) - 1))); // rest >= 1e6: one more
    const __m256i w10 = _mm256_sub_epi32(fx, w11);
    const __m256i w01 = _mm256_sub_epi32(fy, w11);
    const __m256i w00 = _mm256_add_epi32(_mm256_sub_epi32(_mm256_and_si256(live, one), _mm256_add_epi32(fx, fy)), w11);
    const __m256i v = _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(w00, n.s0), _mm256_mullo_epi32(w10, n.s1)),
                                       _mm256_add_epi32(_mm256_mullo_epi32(w01, n.s2), _mm256_mullo_epi32(w11, n.s3)));
    // floor(v / 1,000,000) = floor((v >> 6) / 15625); for every v below 2^28
    // the float product truncates to exactly that.
    return _mm256_cvttps_epi32(
        _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_srli_epi32(v, 6)), _mm256_set1_ps(1.0f / 15625.0f)));
}

// (v x m + 254) / 255 as (t + 1 + (t >> 8)) >> 8, exact below 65535.
AVX2_INLINE __m256i maskedBy(__m256i v, __m256i m)
{
    const __m256i t = _mm256_add_epi32(_mm256_mullo_epi32(v, m), _mm256_set1_epi32(254));
    return _mm256_srli_epi32(_mm256_add_epi32(_mm256_add_epi32(t, _mm256_srli_epi32(t, 8)), _mm256_set1_epi32(1)), 8);
}

// The low byte of each lane, side by side.
AVX2_INLINE uint64_t packed(__m256i v)
{
    const __m256i lowBytes = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8,
                                              12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(v, lowBytes), _mm256_setr_epi32(0, 4, 0, 0, 0, 0, 0, 0));
    return uint64_t(_mm_cvtsi128_si64(_mm256_castsi256_si128(bytes)));
}

AVX2 void correctRowsAvx2(const CorrectionRows& t, const uint8_t* src, uint8_t* dst, int first, int end,
                          const uint8_t* mask)
{
    const size_t down = static_cast<size_t>(t.width);
    const __m256i laneShifts = _mm256_setr_epi32(0, 4, 8, 12, 16, 20, 24, 28);
    uint16_t values[kSurvey];
    for (int y = first; y < end; ++y, dst += down, mask = mask ? mask + down : nullptr) {
        const CorrectionRows::Group* groups = t.groups + t.groupsPerRow * size_t(y);
        const CorrectionRows::Fractions* fractions = t.fractions + t.groupsPerRow * size_t(y);
        for (size_t from = 0; from < t.groupsPerRow; from += kSurvey) {
            const size_t to = std::min(t.groupsPerRow, from + kSurvey);
            survey(groups, fractions, src, down, from, to, values);
            for (size_t g = from; g < to; ++g) {
                const CorrectionRows::Group group = groups[g];
                const size_t x = g * kGroup;
                const bool whole = x + kGroup <= down;
                const __m256i lanes = _mm256_srlv_epi32(_mm256_set1_epi32(int(group.lanes)), laneShifts);
                const __m256i live =
                    _mm256_cmpgt_epi32(_mm256_and_si256(lanes, _mm256_set1_epi32(CorrectionRows::kLive)),
                                       _mm256_setzero_si256());
                __m256i value;
                if (values[g - from] != kMixed) {
                    // Weights that add up to one million of one value: the value.
                    value = _mm256_and_si256(_mm256_set1_epi32(values[g - from]), live);
                } else if ((group.lanes & 0x77777777u) == 0) {
                    const uint8_t* p = src + group.source;
                    const Neighbours n{eightFrom(p), eightFrom(p + 1), eightFrom(p + down), eightFrom(p + down + 1)};
                    value = resampled(fractions[g], n, live);
                } else {
                    const __m256i codes = _mm256_and_si256(lanes, _mm256_set1_epi32(7));
                    value = resampled(fractions[g], scattered(t, src, group, codes), live);
                }
                if (mask) {
                    if (whole) {
                        value = maskedBy(value, eightFrom(mask + x));
                    } else {
                        uint8_t tail[kGroup] = {};
                        memcpy(tail, mask + x, down - x);
                        value = maskedBy(value, eightFrom(tail));
                    }
                }
                const uint64_t eight = packed(value);
                memcpy(dst + x, &eight, whole ? sizeof eight : down - x); // a row may end inside its last group
            }
        }
    }
}

bool hasAvx2()
{
    __builtin_cpu_init(); // may run before the library's own start-up code
    return __builtin_cpu_supports("avx2");
}

const bool g_avx2 = hasAvx2();

} // namespace

bool correctRowsVector(const CorrectionRows& t, const uint8_t* src, uint8_t* dst, int first, int end,
                       const uint8_t* mask)
{
    if (!g_avx2)
        return false;
    correctRowsAvx2(t, src, dst, first, end, mask);
    return true;
}

#else

bool correctRowsVector(const CorrectionRows&, const uint8_t*, uint8_t*, int, int, const uint8_t*)
{
    return false;
}

#endif

void correctRows(const CorrectionRows& t, const uint8_t* src, uint8_t* dst, int first, int end, const uint8_t* mask)
{
    if (!correctRowsVector(t, src, dst, first, end, mask))
        correctRowsPortable(t, src, dst, first, end, mask);
}
