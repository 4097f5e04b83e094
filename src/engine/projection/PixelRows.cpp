#include "engine/projection/PixelRows.h"

#include <QColor>

#include <cstring>

// The vector kernels move 16 pixels at a time with byte shuffles; the
// compiler turns them into the target's shuffle instructions. They assume the
// memory order of a little-endian QRgb (blue, green, red, alpha).
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define TALVIKS_VECTOR_ROWS 1
#endif

namespace {

const QRgb kBlack = 0xFF000000;

void expandGrayScalar(const uint8_t* in, uint8_t* out, int count, ByteMask keep)
{
    for (int x = 0; x < count; ++x, out += 3) {
        out[0] = in[x] & keep.byte[0];
        out[1] = in[x] & keep.byte[1];
        out[2] = in[x] & keep.byte[2];
    }
}

void packRgb32Scalar(const uint32_t* in, uint8_t* out, int count, ByteMask keep)
{
    for (int x = 0; x < count; ++x, out += 3) {
        out[0] = static_cast<uint8_t>(qRed(in[x])) & keep.byte[0];
        out[1] = static_cast<uint8_t>(qGreen(in[x])) & keep.byte[1];
        out[2] = static_cast<uint8_t>(qBlue(in[x])) & keep.byte[2];
    }
}

template <bool Clear>
void redOfRgb32Scalar(uint32_t* in, uint8_t* out, int count)
{
    for (int x = 0; x < count; ++x) {
        out[x] = static_cast<uint8_t>(qRed(in[x]));
        if (Clear)
            in[x] = kBlack;
    }
}

#ifdef TALVIKS_VECTOR_ROWS

typedef uint8_t V16 __attribute__((vector_size(16)));

inline V16 load(const void* p)
{
    V16 v;
    memcpy(&v, p, sizeof v);
    return v;
}

inline void store(void* p, V16 v)
{
    memcpy(p, &v, sizeof v);
}

// The masks of the three 16-byte pieces of 48 output bytes: byte i keeps
// channel i mod 3.
// Made by three shuffles, not byte by byte: they are made for every row.
struct PhaseMasks
{
    V16 piece[3];
    explicit PhaseMasks(ByteMask keep)
    {
        V16 k = {};
        memcpy(&k, keep.byte, sizeof keep.byte);
        const V16 phase0 = {0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0};
        const V16 phase1 = {1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1};
        const V16 phase2 = {2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2};
        piece[0] = __builtin_shuffle(k, phase0);
        piece[1] = __builtin_shuffle(k, phase1);
        piece[2] = __builtin_shuffle(k, phase2);
    }
};

// Four black pixels.
inline V16 blackPixels()
{
    V16 v;
    for (int i = 0; i < 4; ++i)
        memcpy(reinterpret_cast<uint8_t*>(&v) + 4 * i, &kBlack, 4);
    return v;
}

#define ALWAYS_INLINE inline __attribute__((always_inline))

ALWAYS_INLINE void expandGrayVector(const uint8_t* in, uint8_t* out, int count, ByteMask keep)
{
    const PhaseMasks m(keep);
    int x = 0;
    for (; x + 16 <= count; x += 16, out += 48) {
        const V16 g = load(in + x);
        store(out, __builtin_shufflevector(g, g, 0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5) & m.piece[0]);
        store(out + 16, __builtin_shufflevector(g, g, 5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10) & m.piece[1]);
        store(out + 32,
              __builtin_shufflevector(g, g, 10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15) &
                  m.piece[2]);
    }
    expandGrayScalar(in + x, out, count - x, keep);
}

// Clears sixteen pixels just read (still in the cache). Most of a layer is
// black already: those pixels are left alone, so their memory is not written back.
template <bool Clear>
ALWAYS_INLINE void clearSixteen(uint32_t* in, V16 a, V16 b, V16 c, V16 d, V16 black)
{
    if (!Clear)
        return;
    const V16 differ = (a ^ black) | (b ^ black) | (c ^ black) | (d ^ black);
    uint64_t halves[2];
    memcpy(halves, &differ, sizeof halves);
    if (halves[0] | halves[1])
        for (int i = 0; i < 4; ++i)
            store(in + 4 * i, black);
}

ALWAYS_INLINE void packRgb32Vector(const uint32_t* in, uint8_t* out, int count, ByteMask keep)
{
    const PhaseMasks m(keep);
    int x = 0;
    for (; x + 16 <= count; x += 16, out += 48) {
        const V16 a = load(in + x), b = load(in + x + 4), c = load(in + x + 8), d = load(in + x + 12);
        store(out, __builtin_shufflevector(a, b, 2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, 18, 17, 16, 22) &
                       m.piece[0]);
        store(out + 16, __builtin_shufflevector(b, c, 5, 4, 10, 9, 8, 14, 13, 12, 18, 17, 16, 22, 21, 20, 26, 25) &
                            m.piece[1]);
        store(out + 32, __builtin_shufflevector(c, d, 8, 14, 13, 12, 18, 17, 16, 22, 21, 20, 26, 25, 24, 30, 29, 28) &
                            m.piece[2]);
    }
    packRgb32Scalar(in + x, out, count - x, keep);
}

template <bool Clear>
ALWAYS_INLINE void redOfRgb32Vector(uint32_t* in, uint8_t* out, int count)
{
    const V16 black = blackPixels();
    int x = 0;
    for (; x + 16 <= count; x += 16) {
        const V16 a = load(in + x), b = load(in + x + 4), c = load(in + x + 8), d = load(in + x + 12);
        clearSixteen<Clear>(in + x, a, b, c, d, black);
        const V16 low = __builtin_shufflevector(a, b, 2, 6, 10, 14, 18, 22, 26, 30, 2, 6, 10, 14, 18, 22, 26, 30);
        const V16 high = __builtin_shufflevector(c, d, 2, 6, 10, 14, 18, 22, 26, 30, 2, 6, 10, 14, 18, 22, 26, 30);
        store(out + x, __builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 18, 19, 20, 21, 22, 23));
    }
    redOfRgb32Scalar<Clear>(in + x, out + x, count - x);
}

#endif

struct Kernels
{
    void (*expandGray)(const uint8_t*, uint8_t*, int, ByteMask) = expandGrayScalar;
    void (*packRgb32)(const uint32_t*, uint8_t*, int, ByteMask) = packRgb32Scalar;
    void (*redOfRgb32)(uint32_t*, uint8_t*, int) = redOfRgb32Scalar<false>;
    void (*redOfRgb32Clearing)(uint32_t*, uint8_t*, int) = redOfRgb32Scalar<true>;
    Kernels();
};

#if defined(TALVIKS_VECTOR_ROWS) && (defined(__x86_64__) || defined(__i386__))
// Without SSSE3 the shuffles fall apart into byte moves: the plain loops are as good.
#define SSSE3 __attribute__((target("ssse3")))
SSSE3 void expandGraySsse3(const uint8_t* in, uint8_t* out, int count, ByteMask keep)
{
    expandGrayVector(in, out, count, keep);
}
SSSE3 void packRgb32Ssse3(const uint32_t* in, uint8_t* out, int count, ByteMask keep)
{
    packRgb32Vector(in, out, count, keep);
}
template <bool Clear>
SSSE3 void redOfRgb32Ssse3(uint32_t* in, uint8_t* out, int count)
{
    redOfRgb32Vector<Clear>(in, out, count);
}

Kernels::Kernels()
{
    __builtin_cpu_init(); // may run before the library's own start-up code
    if (__builtin_cpu_supports("ssse3")) {
        expandGray = expandGraySsse3;
        packRgb32 = packRgb32Ssse3;
        redOfRgb32 = redOfRgb32Ssse3<false>;
        redOfRgb32Clearing = redOfRgb32Ssse3<true>;
    }
}
#elif defined(TALVIKS_VECTOR_ROWS)
Kernels::Kernels()
    : expandGray(expandGrayVector), packRgb32(packRgb32Vector),
      redOfRgb32(redOfRgb32Vector<false>), redOfRgb32Clearing(redOfRgb32Vector<true>)
{
}
#else
Kernels::Kernels() = default;
#endif

const Kernels g_kernels;

} // namespace

void expandGrayRow(const uint8_t* in, uint8_t* out, int count, ByteMask keep)
{
    g_kernels.expandGray(in, out, count, keep);
}

void packRgb32Row(const uint32_t* in, uint8_t* out, int count, ByteMask keep)
{
    g_kernels.packRgb32(in, out, count, keep);
}

void redOfRgb32Row(const uint32_t* in, uint8_t* out, int count)
{
    g_kernels.redOfRgb32(const_cast<uint32_t*>(in), out, count); // not written
}

void redOfRgb32RowClearing(uint32_t* in, uint8_t* out, int count)
{
    g_kernels.redOfRgb32Clearing(in, out, count);
}
