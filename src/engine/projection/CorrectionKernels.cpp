#include "engine/projection/CorrectionKernels.h"

#include <algorithm>
#include <cstring>

#if defined(__GNUC__) && defined(__x86_64__)
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

// The value of the 2 x 9 pixels from p on (a run of eight sources and their
// neighbours), or kMixed when they differ.
inline uint16_t uniformRun(const uint8_t* p, size_t down)
{
    const uint64_t top = eightBytes(p);
    const uint64_t differ = (top ^ eightBytes(p + 1)) | (top ^ eightBytes(p + down)) | (top ^ eightBytes(p + down + 1));
    return differ ? kMixed : uint16_t(top & 0xFF);
}

// A bit in each nibble of the step codes that is not 0.
inline uint32_t stepped(uint32_t codes)
{
    return (codes | codes >> 1 | codes >> 2) & 0x11111111u;
}

// The value under a group whose sources are one or two runs of eight
// consecutive pixels and whose neighbourhoods all hold that value (the black
// around a part, the inside of one: most of a layer), else kMixed.
inline uint16_t uniformUnder(const CorrectionRows& t, const CorrectionRows::Group& group, const uint8_t* src,
                             size_t down)
{
    const uint32_t codes = group.lanes & 0x77777777u;
    if (codes == 0)
        return uniformRun(src + group.source, down);
    const uint32_t last = codes >> 28;
    if (last == CorrectionRows::kListedCode || (stepped(codes) & stepped(codes ^ last * 0x11111111u)))
        return kMixed; // listed, or more than one step
    const uint8_t* p = src + group.source;
    const uint16_t value = uniformRun(p, down);
    return value != kMixed && uniformRun(p + t.steps[last], down) == value ? value : kMixed;
}

// Only mixed groups need their fractions; being sparse, they are asked for
// ahead of their turn.
inline void fetchAhead(const CorrectionRows::Fractions* fractions, size_t g, uint16_t value)
{
    if (value == kMixed)
        __builtin_prefetch(&fractions[g]);
}

// The row after the next below a run of sources: its turn comes with the
// next row of groups.
inline void fetchRowAhead(const CorrectionRows& t, const uint8_t* src, uint32_t source)
{
    const size_t ahead = source + 2 * static_cast<size_t>(t.width);
    if (!(source & CorrectionRows::kListed) && ahead < t.pixels)
        __builtin_prefetch(src + ahead);
}

// For groups [from, to) of a row: the value under each, or kMixed.
void survey(const CorrectionRows& t, const CorrectionRows::Group* groups, const CorrectionRows::Fractions* fractions,
            const uint8_t* src, size_t from, size_t to, uint16_t* values)
{
    const size_t down = static_cast<size_t>(t.width);
    for (size_t g = from; g < to; ++g) {
        if (g % 8 == 0)
            fetchRowAhead(t, src, groups[g].source);
        const uint16_t value = uniformUnder(t, groups[g], src, down);
        fetchAhead(fractions, g, value);
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
            survey(t, groups, fractions, src, from, to, values);
            for (size_t g = from; g < to; ++g) {
                const size_t x0 = g * kGroup;
                const size_t lanes = std::min<size_t>(kGroup, down - x0);
                const uint16_t uniform = values[g - from];
                // Black stays black whatever the mask; a value under live
                // pixels without a mask is that value, and white under a
                // mask the mask.
                const bool allLive = (groups[g].lanes & 0x88888888u) == 0x88888888u;
                if (uniform == 0 || (uniform != kMixed && !mask && allLive)) {
                    memset(dst + x0, uniform, lanes);
                    continue;
                }
                if (uniform == 255 && mask && allLive) {
                    memcpy(dst + x0, mask + x0, lanes);
                    continue;
                }
                for (size_t lane = 0; lane < lanes; ++lane) {
                    const size_t x = x0 + lane;
                    const bool live = (groups[g].lanes >> (4 * lane)) & CorrectionRows::kLive;
                    if (uniform != kMixed) {
                        // Weights that add up to one million of one value: the value.
                        dst[x] = live ? masked(uniform, mask, x) : 0;
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

// Eight output pixels, fewer where the row ends inside its last group.
inline void storeEight(uint8_t* dst, size_t x, size_t down, uint64_t eight)
{
    if (x + kGroup <= down)
        memcpy(dst + x, &eight, sizeof eight);
    else
        memcpy(dst + x, &eight, down - x);
}

// Eight copies of a byte.
inline uint64_t eightOf(uint8_t value)
{
    return value * 0x0101010101010101ull;
}

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
        index = _mm256_loadu_si256(
            reinterpret_cast<const __m256i*>(t.listed + (group.source & ~CorrectionRows::kListed)));
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
    const __m256i bytes =
        _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(v, lowBytes), _mm256_setr_epi32(0, 4, 0, 0, 0, 0, 0, 0));
    return uint64_t(_mm_cvtsi128_si64(_mm256_castsi256_si128(bytes)));
}

// Where the 32 bytes from q on are those of `top`.
AVX2_INLINE __m256i sameBytes(__m256i top, const uint8_t* q)
{
    return _mm256_cmpeq_epi8(top, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)));
}

// The pixels of group g into the row at dst: a value under the whole group
// (see uniformUnder) spread over its live pixels, or kMixed: worked out in full.
AVX2_INLINE void writeGroup(const CorrectionRows& t, const uint8_t* src, uint8_t* dst, const uint8_t* mask,
                            const CorrectionRows::Group* groups, const CorrectionRows::Fractions* fractions, size_t g,
                            uint16_t uniform)
{
    const size_t down = static_cast<size_t>(t.width);
    const CorrectionRows::Group group = groups[g];
    const size_t x = g * kGroup;
    // Black stays black whatever the mask; a value under live pixels
    // without a mask is that value, and white under a mask the mask.
    const bool allLive = (group.lanes & 0x88888888u) == 0x88888888u;
    if (uniform == 0 || (uniform != kMixed && !mask && allLive)) {
        storeEight(dst, x, down, eightOf(uint8_t(uniform)));
        return;
    }
    if (uniform == 255 && mask && allLive) {
        uint64_t eight = 0;
        memcpy(&eight, mask + x, std::min<size_t>(kGroup, down - x));
        storeEight(dst, x, down, eight);
        return;
    }
    const __m256i lanes =
        _mm256_srlv_epi32(_mm256_set1_epi32(int(group.lanes)), _mm256_setr_epi32(0, 4, 8, 12, 16, 20, 24, 28));
    const __m256i live = _mm256_cmpgt_epi32(_mm256_and_si256(lanes, _mm256_set1_epi32(CorrectionRows::kLive)),
                                            _mm256_setzero_si256());
    __m256i value;
    if (uniform != kMixed) {
        value = _mm256_and_si256(_mm256_set1_epi32(uniform), live);
    } else if ((group.lanes & 0x77777777u) == 0) {
        const uint8_t* p = src + group.source;
        const Neighbours n{eightFrom(p), eightFrom(p + 1), eightFrom(p + down), eightFrom(p + down + 1)};
        value = resampled(fractions[g], n, live);
    } else {
        const __m256i codes = _mm256_and_si256(lanes, _mm256_set1_epi32(7));
        value = resampled(fractions[g], scattered(t, src, group, codes), live);
    }
    if (mask) {
        if (x + kGroup <= down) {
            value = maskedBy(value, eightFrom(mask + x));
        } else {
            uint8_t tail[kGroup] = {};
            memcpy(tail, mask + x, down - x);
            value = maskedBy(value, eightFrom(tail));
        }
    }
    storeEight(dst, x, down, packed(value));
}

// A piece of kSurvey groups of a row: the groups with one value under them
// are written at once; the fractions of the mixed ones are asked for
// meanwhile, and used once the whole piece is surveyed.
struct RowPiece
{
    RowPiece(const CorrectionRows& table, const uint8_t* source, uint8_t* row, const uint8_t* maskRow,
             const CorrectionRows::Group* rowGroups, const CorrectionRows::Fractions* rowFractions)
        : t(table), src(source), dst(row), mask(maskRow), groups(rowGroups), fractions(rowFractions)
    {
    }

    const CorrectionRows& t;
    const uint8_t* src;
    uint8_t* dst;
    const uint8_t* mask;
    const CorrectionRows::Group* groups;
    const CorrectionRows::Fractions* fractions;
    size_t from = 0;
    size_t count = 0;
    uint16_t mixed[kSurvey]; // written before it is read

    __attribute__((target("avx2"), always_inline)) inline void take(size_t g, uint16_t value)
    {
        if (value == kMixed) {
            __builtin_prefetch(&fractions[g]);
            mixed[count++] = uint16_t(g - from);
        } else {
            writeGroup(t, src, dst, mask, groups, fractions, g, value);
        }
    }

    __attribute__((target("avx2"), always_inline)) inline void finish()
    {
        for (size_t i = 0; i < count; ++i)
            writeGroup(t, src, dst, mask, groups, fractions, from + mixed[i], kMixed);
    }
};

AVX2 void correctRowsAvx2(const CorrectionRows& t, const uint8_t* src, uint8_t* dst, int first, int end,
                          const uint8_t* mask)
{
    const size_t down = static_cast<size_t>(t.width);
    for (int y = first; y < end; ++y, dst += down, mask = mask ? mask + down : nullptr) {
        const CorrectionRows::Group* groups = t.groups + t.groupsPerRow * size_t(y);
        RowPiece piece(t, src, dst, mask, groups, t.fractions + t.groupsPerRow * size_t(y));
        for (size_t from = 0; from < t.groupsPerRow; from += kSurvey) {
            const size_t to = std::min(t.groupsPerRow, from + kSurvey);
            piece.from = from;
            piece.count = 0;
            size_t g = from;
            // Four groups at a time where their sources are 32 consecutive
            // pixels: most of a gentle warp.
            for (; g + 4 <= to; g += 4) {
                const CorrectionRows::Group* four = groups + g;
                const uint32_t source = four[0].source;
                if (((four[0].lanes | four[1].lanes | four[2].lanes | four[3].lanes) & 0x77777777u) != 0 ||
                    four[1].source != source + 8 || four[2].source != source + 16 || four[3].source != source + 24) {
                    for (size_t k = g; k < g + 4; ++k)
                        piece.take(k, uniformUnder(t, groups[k], src, down));
                    continue;
                }
                const uint8_t* p = src + source;
                fetchRowAhead(t, src, source);
                const __m256i top = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
                const uint32_t equal = uint32_t(_mm256_movemask_epi8(_mm256_and_si256(
                    _mm256_and_si256(sameBytes(top, p + 1), sameBytes(top, p + down)), sameBytes(top, p + down + 1))));
                if (equal == 0xFFFFFFFFu && _mm256_testz_si256(top, top) && (g + 4) * kGroup <= down) {
                    memset(dst + g * kGroup, 0, 4 * kGroup); // the black around a part
                    continue;
                }
                for (int k = 0; k < 4; ++k)
                    piece.take(g + k, ((equal >> (8 * k)) & 0xFF) == 0xFF ? p[8 * k] : kMixed);
            }
            for (; g < to; ++g)
                piece.take(g, uniformUnder(t, groups[g], src, down));
            piece.finish();
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
