#include "Phaseshiftmoire.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Accessregistry.h"
#include "Apperror.h"
#include "Newunwrap.h"
#include "regularfile.h"

const char* const kBytePlaneSuffix[kBytePlaneCount] = {
    " - Object", " - Step1", " - Step2", " - Step3", " - Step4", " - mask"};

const char* FloatPlaneSuffix(int code)
{
    switch (code) {
    case kPhaseCode: return " - Phase";
    case kUnwrappedPhaseCode: return " - Unwrapped Phase";
    case kConvertResultCode: return " - Convert Result";
    default: return nullptr;
    }
}

// ---- header encoding --------------------------------------------------------------------

namespace {

void PutU32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
uint32_t GetU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void PutI32(uint8_t* p, int32_t v) { PutU32(p, static_cast<uint32_t>(v)); }
int32_t GetI32(const uint8_t* p) { return static_cast<int32_t>(GetU32(p)); }
void PutF64(uint8_t* p, double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    PutU32(p, uint32_t(bits));
    PutU32(p + 4, uint32_t(bits >> 32));
}
double GetF64(const uint8_t* p)
{
    const uint64_t bits = uint64_t(GetU32(p)) | uint64_t(GetU32(p + 4)) << 32;
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
}

constexpr bool kLittleEndianHost =
#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__)
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
#else
    false;
#endif

}  // namespace

void EncodePsmHeader(const TPsmHeader& h, uint8_t out[kPsmHeaderSize])
{
    std::memset(out, 0, kPsmHeaderSize);
    PutI32(out + 0x00, h.Marker);
    std::memcpy(out + 0x04, h.BytePresent, 6);
    std::memcpy(out + 0x0A, h.FloatPresent, 3);
    std::memcpy(out + 0x0D, h.Reserved1, 3);
    PutI32(out + 0x10, h.Width);
    PutI32(out + 0x14, h.Height);
    PutI32(out + 0x18, h.PhaseShiftMethod);
    PutI32(out + 0x1C, h.Threshold);
    out[0x20] = h.ThresholdAuto;
    out[0x21] = h.StartPointAuto;
    std::memcpy(out + 0x22, h.Reserved2, 2);
    PutI32(out + 0x24, h.StartX);
    PutI32(out + 0x28, h.StartY);
    PutI32(out + 0x2C, h.UnwrapMethod);
    PutF64(out + 0x30, h.Zc);
    PutF64(out + 0x38, h.Zcf);
    PutF64(out + 0x40, h.Lp);
    PutF64(out + 0x48, h.Lpf);
    PutF64(out + 0x50, h.Theta);
    PutF64(out + 0x58, h.PixelX);
    PutF64(out + 0x60, h.PixelY);
    PutI32(out + 0x68, h.X0);
    PutI32(out + 0x6C, h.Y0);
    PutF64(out + 0x70, h.GratingFrequency);
    PutF64(out + 0x78, h.OriginX);
    PutF64(out + 0x80, h.OriginY);
    PutF64(out + 0x88, h.OriginZ);
    std::memcpy(out + 0x90, h.Reserved3, 200);
}

TPsmHeader DecodePsmHeader(const uint8_t in[kPsmHeaderSize])
{
    TPsmHeader h{};
    h.Marker = GetI32(in + 0x00);
    std::memcpy(h.BytePresent, in + 0x04, 6);
    std::memcpy(h.FloatPresent, in + 0x0A, 3);
    std::memcpy(h.Reserved1, in + 0x0D, 3);
    h.Width = GetI32(in + 0x10);
    h.Height = GetI32(in + 0x14);
    h.PhaseShiftMethod = GetI32(in + 0x18);
    h.Threshold = GetI32(in + 0x1C);
    h.ThresholdAuto = in[0x20];
    h.StartPointAuto = in[0x21];
    std::memcpy(h.Reserved2, in + 0x22, 2);
    h.StartX = GetI32(in + 0x24);
    h.StartY = GetI32(in + 0x28);
    h.UnwrapMethod = GetI32(in + 0x2C);
    h.Zc = GetF64(in + 0x30);
    h.Zcf = GetF64(in + 0x38);
    h.Lp = GetF64(in + 0x40);
    h.Lpf = GetF64(in + 0x48);
    h.Theta = GetF64(in + 0x50);
    h.PixelX = GetF64(in + 0x58);
    h.PixelY = GetF64(in + 0x60);
    h.X0 = GetI32(in + 0x68);
    h.Y0 = GetI32(in + 0x6C);
    h.GratingFrequency = GetF64(in + 0x70);
    h.OriginX = GetF64(in + 0x78);
    h.OriginY = GetF64(in + 0x80);
    h.OriginZ = GetF64(in + 0x88);
    std::memcpy(h.Reserved3, in + 0x90, 200);
    return h;
}

void InitPsmHeader(TPsmHeader& header)
{
    // Read everything first, so a failing read leaves the header as it was.
    const TComputePara compute = ReadComputePara();
    const int32_t method = ReadPhaseShiftMethod();
    const TGeometry geometry = ReadGeometry();
    const TCoordTransfer origin = ReadCoordTransfer();

    TPsmHeader h{};
    h.Marker = kPsmMarker;
    h.Width = 0;
    h.Height = 0;
    h.StartX = compute.StartX;
    h.StartY = compute.StartY;
    h.StartPointAuto = compute.StartPointAuto ? 1 : 0;
    h.UnwrapMethod = compute.UnwrapMethod;
    h.Threshold = compute.Threshold;
    h.ThresholdAuto = compute.ThresholdAuto ? 1 : 0;
    h.PhaseShiftMethod = method;
    h.Zc = geometry.Zc;
    h.Zcf = geometry.Zcf;
    h.Lp = geometry.Lp;
    h.Lpf = geometry.Lpf;
    h.Theta = geometry.Theta;
    h.PixelX = geometry.PixelX;
    h.PixelY = geometry.PixelY;
    h.X0 = geometry.X0;
    h.Y0 = geometry.Y0;
    h.GratingFrequency = geometry.ProjectGratingFrequency;
    h.OriginX = origin.OriginX;
    h.OriginY = origin.OriginY;
    h.OriginZ = origin.OriginZ;
    header = h;
}

// ---- wrapped phase ----------------------------------------------------------------------

namespace {

// The four-step formulas on 32-bit floats.
inline void NumDenEqual4Step(float i1, float i2, float i3, float i4, float& num, float& den)
{
    num = std::sqrt(std::fabs((3.0f * (i2 - i3) - (i1 - i4)) * ((i1 - i4) + (i2 - i3))));
    if (i1 - i4 < 0) num = -num;
    den = (i2 + i3) - (i1 + i4);
}

inline void NumDenConst4Step(float i1, float i2, float i3, float i4, float& num, float& den)
{
    num = i4 - i2;
    den = i1 - i3;
}

// The phase from numerator and denominator, with the small-value tests in their order.
inline float PhaseOf(float num, float den)
{
    float phase = 0.0f;
    if (std::fabs(num * den) >= 3.4e-20) phase = std::atan2(num, den);
    if (std::fabs(num) < 3.4e-20)
        phase = den >= 0 ? 0.0f : 3.1415927f;
    else if (std::fabs(num) > 3.4e-20 && std::fabs(den) < 3.4e-20)
        phase = num > 0 ? 1.5707964f : -1.5707964f;
    return phase;
}

// Pixel by pixel with the C library's atan2f.
void PhaseWithLibrary(int32_t method, const uint8_t* s1, const uint8_t* s2, const uint8_t* s3,
                      const uint8_t* s4, size_t n, float* out)
{
    for (size_t i = 0; i < n; ++i) {
        float num, den;
        if (method == kEqual4Step)
            NumDenEqual4Step(s1[i], s2[i], s3[i], s4[i], num, den);
        else
            NumDenConst4Step(s1[i], s2[i], s3[i], s4[i], num, den);
        out[i] = PhaseOf(num, den);
    }
}

#if defined(__SSE2__)

// Sixteen pixels at a time, as four SSE vectors worked on side by side so that their long
// dependency chains overlap. The arc tangent repeats, operation for operation in 32-bit
// floats, the argument reduction, polynomial and constants of the C library's float atan2
// (the classic reduction of |y/x| to five intervals, an 11-term odd polynomial and a
// two-part table of atan(0.5), atan(1), atan(1.5), atan(inf)), written without branches.
// Every phase then equals atan2f bit for bit; UseFastPhase compares the two once, on half a
// million pixels of both methods, and falls back to atan2f when they differ (another C
// library).

struct V16 {
    __m128 v[4];
};

#define QSRF_V16_OP(name, expr)                         \
    inline V16 name(const V16& a, const V16& b)         \
    {                                                   \
        V16 r;                                          \
        for (int g = 0; g < 4; ++g) r.v[g] = expr(a.v[g], b.v[g]); \
        return r;                                       \
    }
QSRF_V16_OP(Add, _mm_add_ps)
QSRF_V16_OP(Sub, _mm_sub_ps)
QSRF_V16_OP(Mul, _mm_mul_ps)
QSRF_V16_OP(Div, _mm_div_ps)
QSRF_V16_OP(And, _mm_and_ps)
QSRF_V16_OP(AndNot, _mm_andnot_ps)   // ~a & b
QSRF_V16_OP(Or, _mm_or_ps)
QSRF_V16_OP(Xor, _mm_xor_ps)
QSRF_V16_OP(Less, _mm_cmplt_ps)
QSRF_V16_OP(Greater, _mm_cmpgt_ps)
QSRF_V16_OP(GreaterEqual, _mm_cmpge_ps)
#undef QSRF_V16_OP

inline V16 Splat(float value)
{
    V16 r;
    for (int g = 0; g < 4; ++g) r.v[g] = _mm_set1_ps(value);
    return r;
}
inline V16 Sqrt(const V16& a)
{
    V16 r;
    for (int g = 0; g < 4; ++g) r.v[g] = _mm_sqrt_ps(a.v[g]);
    return r;
}
// mask ? a : b, lane by lane.
inline V16 Select(const V16& mask, const V16& a, const V16& b)
{
    return Or(And(mask, a), AndNot(mask, b));
}

// atan2(y, x) for finite y and x != 0 with |y / x| between 2^-29 and 2^25.
inline V16 Atan2(const V16& y, const V16& x)
{
    const V16 sign = Splat(-0.0f);
    const V16 t = Div(AndNot(sign, y), AndNot(sign, x));

    // Reduction x' = (p t - q) / (p + q t) with the interval's atan(c) = hi + lo:
    //   t < 7/16:      x' = t,                      c = 0
    //   t < 11/16:     x' = (2t - 1) / (2 + t),      c = 0.5
    //   t < 19/16:     x' = (t - 1) / (1 + t),       c = 1
    //   t < 39/16:     x' = (t - 1.5) / (1 + 1.5t),  c = 1.5
    //   otherwise:     x' = -1 / t,                  c = inf
    const V16 in0 = Less(t, Splat(0.4375f));
    const V16 in1 = Less(t, Splat(0.6875f));
    const V16 in2 = Less(t, Splat(1.1875f));
    const V16 in3 = Less(t, Splat(2.4375f));
    // One mask per interval from 7/16 to 39/16 (below it hi = lo = 0; above it ~in3).
    const V16 is1 = AndNot(in0, in1);
    const V16 is2 = AndNot(in1, in2);
    const V16 is3 = AndNot(in2, in3);
    const V16 one = Splat(1.0f);
    // p: 1, 2, 1, 1, 0 and q: 0, 1, 1, 1.5, 1 by interval (sums of exact small numbers).
    const V16 p = Sub(Add(one, And(is1, one)), AndNot(in3, one));
    const V16 q = Add(AndNot(in0, one), And(is3, Splat(0.5f)));
    const V16 hi = Or(Or(And(is1, Splat(0x1.dac670p-2f)), And(is2, Splat(0x1.921fb4p-1f))),
                      Or(And(is3, Splat(0x1.f730bcp-1f)), AndNot(in3, Splat(0x1.921fb4p+0f))));
    const V16 lo = Or(Or(And(is1, Splat(0x1.586ed2p-28f)), And(is2, Splat(0x1.4442d0p-25f))),
                      Or(And(is3, Splat(0x1.281f68p-25f)), AndNot(in3, Splat(0x1.4442d0p-24f))));
    const V16 xr = Div(Sub(Mul(p, t), q), Add(p, Mul(q, t)));

    // atan(x') - x' = x' (s1 + s2), odd and even halves of the polynomial in z = x'^2.
    const V16 z = Mul(xr, xr);
    const V16 w = Mul(z, z);
    V16 s1 = Add(Splat(0x1.97b4b2p-5f), Mul(w, Splat(0x1.0ad3aep-6f)));
    s1 = Add(Splat(0x1.10d66ap-4f), Mul(w, s1));
    s1 = Add(Splat(0x1.745cdcp-4f), Mul(w, s1));
    s1 = Add(Splat(0x1.24924ap-3f), Mul(w, s1));
    s1 = Add(Splat(0x1.555556p-2f), Mul(w, s1));
    s1 = Mul(z, s1);
    V16 s2 = Add(Splat(-0x1.dde2d6p-5f), Mul(w, Splat(-0x1.2b4442p-5f)));
    s2 = Add(Splat(-0x1.3b0f2ap-4f), Mul(w, s2));
    s2 = Add(Splat(-0x1.c71c70p-4f), Mul(w, s2));
    s2 = Add(Splat(-0x1.99999ap-3f), Mul(w, s2));
    s2 = Mul(w, s2);
    // hi - ((x' (s1 + s2) - lo) - x'); with hi = lo = 0 this is x' - x' (s1 + s2).
    const V16 r = Sub(hi, Sub(Sub(Mul(xr, Add(s1, s2)), lo), xr));

    // Quadrant: x > 0 gives +-r; x < 0 gives +-(pi - (r - pi_lo)).
    const V16 ySign = And(y, sign);
    const V16 right = Xor(r, ySign);
    const V16 left = Xor(Sub(Splat(0x1.921fb6p+1f), Sub(r, Splat(-0x1.777a5cp-24f))), ySign);
    return Select(Less(x, Splat(0.0f)), left, right);
}

// PhaseOf on sixteen pixels. With byte images num and den are 0 or at least 1 in
// magnitude, so the small-value tests decide alike in float and double.
inline V16 Phase(const V16& num, const V16& den)
{
    const V16 sign = Splat(-0.0f);
    const V16 tiny = Splat(3.4e-20f);
    const V16 absNum = AndNot(sign, num);
    const V16 absDen = AndNot(sign, den);
    const V16 denTiny = Less(absDen, tiny);
    // Lanes decided by the tests below get a harmless denominator: no 0/0 or x/0.
    const V16 at = Atan2(num, Select(denTiny, Splat(1.0f), den));
    V16 phase = And(GreaterEqual(AndNot(sign, Mul(num, den)), tiny), at);
    const V16 numTiny = Less(absNum, tiny);
    phase = Select(numTiny, And(Less(den, Splat(0.0f)), Splat(3.1415927f)), phase);
    const V16 vertical = AndNot(numTiny, And(Greater(absNum, tiny), denTiny));
    phase = Select(vertical, Or(Splat(1.5707964f), And(num, sign)), phase);
    return phase;
}

// Sixteen bytes as sixteen floats.
inline V16 Widen(const uint8_t* bytes)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    const __m128i lo = _mm_unpacklo_epi8(b, zero);
    const __m128i hi = _mm_unpackhi_epi8(b, zero);
    V16 f;
    f.v[0] = _mm_cvtepi32_ps(_mm_unpacklo_epi16(lo, zero));
    f.v[1] = _mm_cvtepi32_ps(_mm_unpackhi_epi16(lo, zero));
    f.v[2] = _mm_cvtepi32_ps(_mm_unpacklo_epi16(hi, zero));
    f.v[3] = _mm_cvtepi32_ps(_mm_unpackhi_epi16(hi, zero));
    return f;
}

// Sixteen pixels.
template <int32_t Method>
inline void Phase16(const uint8_t* s1, const uint8_t* s2, const uint8_t* s3, const uint8_t* s4,
                    float* out)
{
    const V16 i1 = Widen(s1), i2 = Widen(s2), i3 = Widen(s3), i4 = Widen(s4);
    V16 num, den;
    if (Method == kEqual4Step) {
        const V16 a = Sub(i1, i4);
        const V16 b = Sub(i2, i3);
        num = Sqrt(AndNot(Splat(-0.0f), Mul(Sub(Mul(Splat(3.0f), b), a), Add(a, b))));
        num = Xor(num, And(Less(a, Splat(0.0f)), Splat(-0.0f)));   // negated when I1 - I4 < 0
        den = Sub(Add(i2, i3), Add(i1, i4));
    } else {
        num = Sub(i4, i2);
        den = Sub(i1, i3);
    }
    const V16 phase = Phase(num, den);
    for (int g = 0; g < 4; ++g) _mm_storeu_ps(out + 4 * g, phase.v[g]);
}

template <int32_t Method>
void PhaseFastOf(const uint8_t* s1, const uint8_t* s2, const uint8_t* s3, const uint8_t* s4,
                 size_t n, float* out)
{
    size_t i = 0;
    for (; i + 16 <= n; i += 16) Phase16<Method>(s1 + i, s2 + i, s3 + i, s4 + i, out + i);
    if (i < n) {
        // The last pixels through the same arithmetic, padded to sixteen.
        uint8_t b1[16] = {}, b2[16] = {}, b3[16] = {}, b4[16] = {};
        float o[16];
        const size_t rest = n - i;
        std::memcpy(b1, s1 + i, rest);
        std::memcpy(b2, s2 + i, rest);
        std::memcpy(b3, s3 + i, rest);
        std::memcpy(b4, s4 + i, rest);
        Phase16<Method>(b1, b2, b3, b4, o);
        std::memcpy(out + i, o, rest * sizeof(float));
    }
}

void PhaseFast(int32_t method, const uint8_t* s1, const uint8_t* s2, const uint8_t* s3,
               const uint8_t* s4, size_t n, float* out)
{
    if (method == kEqual4Step)
        PhaseFastOf<kEqual4Step>(s1, s2, s3, s4, n, out);
    else
        PhaseFastOf<kConst4Step>(s1, s2, s3, s4, n, out);
}

// Step images for the check: every pair I1 - I4 = u, I2 - I3 = v of byte images, with
// the sums I1 + I4 and I2 + I3 spread over their possible values.
void CheckImages(std::unique_ptr<uint8_t[]> s[4], size_t& n)
{
    n = 511 * 511;
    for (int k = 0; k < 4; ++k) s[k].reset(new uint8_t[n]);
    size_t i = 0;
    for (int u = -255; u <= 255; ++u)
        for (int v = -255; v <= 255; ++v, ++i) {
            const int au = u < 0 ? -u : u;
            const int av = v < 0 ? -v : v;
            // A sum of the same parity between |d| and 510 - |d|: 256 - |d| choices.
            const int su = au + 2 * static_cast<int>((i * 7919u) % static_cast<size_t>(256 - au));
            const int sv = av + 2 * static_cast<int>((i * 104729u) % static_cast<size_t>(256 - av));
            s[0][i] = static_cast<uint8_t>((su + u) / 2);
            s[3][i] = static_cast<uint8_t>((su - u) / 2);
            s[1][i] = static_cast<uint8_t>((sv + v) / 2);
            s[2][i] = static_cast<uint8_t>((sv - v) / 2);
        }
}

bool FastPhaseMatchesLibrary()
{
    std::unique_ptr<uint8_t[]> s[4];
    size_t n = 0;
    CheckImages(s, n);
    std::unique_ptr<float[]> fast(new float[n]);
    std::unique_ptr<float[]> ref(new float[n]);
    for (int32_t method : {kEqual4Step, kConst4Step}) {
        PhaseFast(method, s[0].get(), s[1].get(), s[2].get(), s[3].get(), n, fast.get());
        PhaseWithLibrary(method, s[0].get(), s[1].get(), s[2].get(), s[3].get(), n, ref.get());
        if (std::memcmp(fast.get(), ref.get(), n * sizeof(float)) != 0) return false;
    }
    return true;
}

bool UseFastPhase()
{
    static const bool matches = FastPhaseMatchesLibrary();
    return matches;
}

#endif  // __SSE2__

}  // namespace

void ComputeWrappedPhase(int32_t method, const uint8_t* step1, const uint8_t* step2,
                         const uint8_t* step3, const uint8_t* step4, size_t n, float* out)
{
    if (method != kEqual4Step && method != kConst4Step)
        throw EAppError("Unknown phase shifting method " + std::to_string(method) +
                        ": it must be 1111 (Equal 4 Step) or 2222 (Const 4 Step)");
#if defined(__SSE2__)
    if (UseFastPhase()) {
        PhaseFast(method, step1, step2, step3, step4, n, out);
        return;
    }
#endif
    PhaseWithLibrary(method, step1, step2, step3, step4, n, out);
}

// ---- the project ------------------------------------------------------------------------

namespace {

std::function<void(bool)>& PleaseWaitHandler()
{
    static std::function<void(bool)> handler;
    return handler;
}

std::function<void()>& PlanesChangedHandler()
{
    static std::function<void()> handler;
    return handler;
}

// Shows the please-wait box for the lifetime of the object.
class PleaseWait {
public:
    PleaseWait()
    {
        if (PleaseWaitHandler()) PleaseWaitHandler()(true);
    }
    ~PleaseWait()
    {
        if (PleaseWaitHandler()) PleaseWaitHandler()(false);
    }
    PleaseWait(const PleaseWait&) = delete;
    PleaseWait& operator=(const PleaseWait&) = delete;
};

// n elements, zeroed unless the caller fills them all anyway.
template <typename T>
std::unique_ptr<T[]> Allocate(size_t n, const char* message, bool zeroed = true)
{
    T* p = zeroed ? new (std::nothrow) T[n ? n : 1]() : new (std::nothrow) T[n ? n : 1];
    if (!p) throw EAppError(message);
    return std::unique_ptr<T[]>(p);
}

bool DimensionsPlausible(int64_t width, int64_t height)
{
    return width > 0 && height > 0 && width <= kMaxPsmSide && height <= kMaxPsmSide &&
           width * height <= kMaxPsmPixels;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

std::string SystemError(int err) { return std::strerror(err); }

// A file descriptor closed on destruction.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now; the error of close, or 0.
    int Close()
    {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int fd_;
};

// Writes all of data; 0 or the error.
int WriteAll(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const size_t chunk = size < (size_t(1) << 30) ? size : (size_t(1) << 30);
        const ssize_t k = ::write(fd, p, chunk);
        if (k < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        p += k;
        size -= static_cast<size_t>(k);
    }
    return 0;
}

// Reads exactly size bytes; 0, the error, or -1 when the file ends first.
int ReadAll(int fd, void* data, size_t size)
{
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const size_t chunk = size < (size_t(1) << 30) ? size : (size_t(1) << 30);
        const ssize_t k = ::read(fd, p, chunk);
        if (k < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (k == 0) return -1;
        p += k;
        size -= static_cast<size_t>(k);
    }
    return 0;
}

// Float planes are stored little-endian.
int WriteFloats(int fd, const float* values, size_t n)
{
    if (kLittleEndianHost) return WriteAll(fd, values, n * sizeof(float));
    uint8_t buffer[4096];
    size_t done = 0;
    while (done < n) {
        const size_t k = std::min<size_t>(n - done, sizeof buffer / 4);
        for (size_t i = 0; i < k; ++i) {
            uint32_t bits;
            std::memcpy(&bits, &values[done + i], 4);
            PutU32(buffer + 4 * i, bits);
        }
        if (const int err = WriteAll(fd, buffer, 4 * k)) return err;
        done += k;
    }
    return 0;
}

int ReadFloats(int fd, float* values, size_t n)
{
    if (const int err = ReadAll(fd, values, n * sizeof(float))) return err;
    if (!kLittleEndianHost) {
        uint8_t* bytes = reinterpret_cast<uint8_t*>(values);
        for (size_t i = 0; i < n; ++i) {
            const uint32_t bits = GetU32(bytes + 4 * i);
            std::memcpy(&values[i], &bits, 4);
        }
    }
    return 0;
}

}  // namespace

TPhaseShiftMoire::TPhaseShiftMoire(const std::string& name) : name_(name), header_{}
{
    ::InitPsmHeader(header_);
}

TPhaseShiftMoire::TPhaseShiftMoire(const std::string& name, NoSettings) : name_(name), header_{}
{
    header_.Marker = kPsmMarker;
}

TPhaseShiftMoire::~TPhaseShiftMoire() { PlanesChanged(); }

void TPhaseShiftMoire::PlanesChanged()
{
    if (PlanesChangedHandler()) PlanesChangedHandler()();
}

void TPhaseShiftMoire::SetPlanesChanged(std::function<void()> planesChanged)
{
    PlanesChangedHandler() = std::move(planesChanged);
}

void TPhaseShiftMoire::Swap(TPhaseShiftMoire& other) noexcept
{
    std::swap(name_, other.name_);
    std::swap(header_, other.header_);
    std::swap(modified_, other.modified_);
    for (int i = 0; i < kBytePlaneCount; ++i) std::swap(bytePlanes_[i], other.bytePlanes_[i]);
    for (int i = 0; i < kFloatPlaneCount; ++i) std::swap(floatPlanes_[i], other.floatPlanes_[i]);
}

int TPhaseShiftMoire::FloatIndex(int code)
{
    switch (code) {
    case kPhaseCode: return 0;
    case kUnwrappedPhaseCode: return 1;
    case kConvertResultCode: return 2;
    default: return -1;
    }
}

size_t TPhaseShiftMoire::Pixels() const
{
    if (header_.Width <= 0 || header_.Height <= 0) return 0;
    return static_cast<size_t>(header_.Width) * static_cast<size_t>(header_.Height);
}

void TPhaseShiftMoire::InitPsmHeader()
{
    TPsmHeader h;
    ::InitPsmHeader(h);
    // The planes stay, and with them their size.
    h.Width = header_.Width;
    h.Height = header_.Height;
    header_ = h;
    UpdatePresenceFlags();
}

void TPhaseShiftMoire::AllocBytePlanes(int32_t width, int32_t height)
{
    if (!DimensionsPlausible(width, height))
        throw EAppError("An image of " + std::to_string(width) + " x " + std::to_string(height) +
                        " pixels is not possible (at most " + std::to_string(kMaxPsmSide) +
                        " pixels a side and " + std::to_string(kMaxPsmPixels) +
                        " pixels in all)");
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::unique_ptr<uint8_t[]> planes[kBytePlaneCount];
    for (auto& p : planes) p = Allocate<uint8_t>(n, "No more memory to allocate");
    if (width != header_.Width || height != header_.Height)
        for (auto& f : floatPlanes_) f.reset();   // they belong to the old size
    header_.Width = width;
    header_.Height = height;
    for (int i = 0; i < kBytePlaneCount; ++i) bytePlanes_[i] = std::move(planes[i]);
    UpdatePresenceFlags();
    PlanesChanged();
}

uint8_t* TPhaseShiftMoire::BytePlane(int index) const
{
    if (index < 0 || index >= kBytePlaneCount) return nullptr;
    return bytePlanes_[index].get();
}

uint8_t* TPhaseShiftMoire::EnsureBytePlane(int index)
{
    if (index < 0 || index >= kBytePlaneCount) throw EAppError("Unknown byte plane " + std::to_string(index));
    if (!bytePlanes_[index]) {
        const size_t n = Pixels();
        if (n == 0) throw EAppError("The project holds no image size");
        bytePlanes_[index] = Allocate<uint8_t>(n, "No more memory to allocate");
        UpdatePresenceFlags();
        PlanesChanged();
    }
    return bytePlanes_[index].get();
}

float* TPhaseShiftMoire::FloatPlane(int code) const
{
    const int i = FloatIndex(code);
    return i < 0 ? nullptr : floatPlanes_[i].get();
}

void TPhaseShiftMoire::SetFloatPlane(int code, std::unique_ptr<float[]> plane)
{
    const int i = FloatIndex(code);
    if (i < 0) throw EAppError("Unknown float plane code " + std::to_string(code));
    floatPlanes_[i] = std::move(plane);
    UpdatePresenceFlags();
    PlanesChanged();
}

void TPhaseShiftMoire::UpdatePresenceFlags()
{
    for (int i = 0; i < kBytePlaneCount; ++i) header_.BytePresent[i] = bytePlanes_[i] ? 1 : 0;
    for (int i = 0; i < kFloatPlaneCount; ++i) header_.FloatPresent[i] = floatPlanes_[i] ? 1 : 0;
}

void TPhaseShiftMoire::SaveToFile(const std::string& path)
{
    UpdatePresenceFlags();
    const size_t n = Pixels();
    if (n == 0) throw EAppError("The project holds no image to save");

    // A fresh file beside the target, renamed over it once it is complete.
    std::string temp;
    int fd = -1;
    for (unsigned attempt = 0; fd < 0; ++attempt) {
        temp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || attempt >= 100))
            throw EAppError("Cannot create file " + Quoted(path) + ": " + SystemError(errno));
    }
    Fd file(fd);
    struct stat old;
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        (void)::fchmod(fd, old.st_mode & 07777);   // keep the permissions of the file replaced

    auto fail = [&](int err) {
        file.Close();
        ::unlink(temp.c_str());
        throw EAppError("Cannot write file " + Quoted(path) + ": " + SystemError(err));
    };
    uint8_t header[kPsmHeaderSize];
    EncodePsmHeader(header_, header);
    if (const int err = WriteAll(fd, header, sizeof header)) fail(err);
    for (const auto& plane : bytePlanes_)
        if (plane)
            if (const int err = WriteAll(fd, plane.get(), n)) fail(err);
    for (const auto& plane : floatPlanes_)
        if (plane)
            if (const int err = WriteFloats(fd, plane.get(), n)) fail(err);
    if (::fsync(fd) != 0) fail(errno);
    if (const int err = file.Close()) {
        ::unlink(temp.c_str());
        throw EAppError("Cannot write file " + Quoted(path) + ": " + SystemError(err));
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        throw EAppError("Cannot write file " + Quoted(path) + ": " + SystemError(err));
    }
    modified_ = false;
}

void TPhaseShiftMoire::LoadFromFile(const std::string& path)
{
    // A named pipe or a device would block the read or never end it: refused before it is
    // opened (and O_NONBLOCK keeps one put in the file's place meanwhile from blocking).
    const std::string notRegular = qsrf::WhyNotRegularFile(path.c_str());
    if (!notRegular.empty() && notRegular != "not found")
        throw EAppError("Cannot open file " + Quoted(path) + ": it is " +
                        (notRegular == "not a regular file" ? notRegular : notRegular + ", not a regular file"));
    Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) throw EAppError("Cannot open file " + Quoted(path) + ": " + SystemError(errno));
    struct stat st;
    if (::fstat(file.get(), &st) != 0)
        throw EAppError("Cannot open file " + Quoted(path) + ": " + SystemError(errno));
    if (!S_ISREG(st.st_mode))
        throw EAppError("Cannot open file " + Quoted(path) + ": it is not a regular file");
    const std::string damaged = "The project file " + Quoted(path) + " is damaged: ";
    if (static_cast<uint64_t>(st.st_size) < kPsmHeaderSize)
        throw EAppError(damaged + "it is shorter than its 344-byte header");

    auto readError = [&](int err) {
        if (err < 0) return EAppError(damaged + "it ends before its last plane");
        return EAppError("Cannot read file " + Quoted(path) + ": " + SystemError(err));
    };
    uint8_t raw[kPsmHeaderSize];
    if (const int err = ReadAll(file.get(), raw, sizeof raw)) throw readError(err);
    const TPsmHeader header = DecodePsmHeader(raw);

    if (header.Marker != kPsmMarker)
        throw EAppError("The file " + Quoted(path) + " is not a project file (no project marker)");
    if (!DimensionsPlausible(header.Width, header.Height))
        throw EAppError(damaged + "its image size " + std::to_string(header.Width) + " x " +
                        std::to_string(header.Height) + " is not possible");
    const uint64_t n = static_cast<uint64_t>(header.Width) * static_cast<uint64_t>(header.Height);
    uint64_t expected = kPsmHeaderSize;
    for (uint8_t present : header.BytePresent) {
        if (present > 1) throw EAppError(damaged + "a plane presence byte is neither 0 nor 1");
        expected += present * n;
    }
    for (uint8_t present : header.FloatPresent) {
        if (present > 1) throw EAppError(damaged + "a plane presence byte is neither 0 nor 1");
        expected += present * n * sizeof(float);
    }
    if (static_cast<uint64_t>(st.st_size) != expected)
        throw EAppError(damaged + "it holds " + std::to_string(st.st_size) +
                        " bytes where its header announces " + std::to_string(expected));

    TPhaseShiftMoire loaded(path, NoSettings{});
    loaded.header_ = header;
    for (int i = 0; i < kBytePlaneCount; ++i) {
        if (header.BytePresent[i] != 1) continue;
        loaded.bytePlanes_[i] = Allocate<uint8_t>(n, "No more memory to allocate", false);
        if (const int err = ReadAll(file.get(), loaded.bytePlanes_[i].get(), n)) throw readError(err);
    }
    for (int i = 0; i < kFloatPlaneCount; ++i) {
        if (header.FloatPresent[i] != 1) continue;
        loaded.floatPlanes_[i] = Allocate<float>(n, "No more memory to allocate", false);
        if (const int err = ReadFloats(file.get(), loaded.floatPlanes_[i].get(), n))
            throw readError(err);
    }
    loaded.modified_ = true;
    loaded.UpdatePresenceFlags();
    Swap(loaded);
    PlanesChanged();
}

void TPhaseShiftMoire::ComputeMask()
{
    const size_t n = Pixels();
    if (n == 0) throw EAppError("The project holds no image: the mask cannot be computed");
    const uint8_t* object = bytePlanes_[kObjectPlane].get();
    if (!object) throw EAppError("The project has no Object image: the mask cannot be computed");

    std::unique_ptr<uint8_t[]> mask = Allocate<uint8_t>(n, "no memory to allocate", false);
    int32_t threshold = header_.Threshold;
    if (header_.ThresholdAuto) {
        uint64_t sum = 0;
        for (size_t i = 0; i < n; ++i) sum += object[i];
        threshold = static_cast<int32_t>(sum / n);
    }
    for (size_t i = 0; i < n; ++i) mask[i] = threshold < object[i] ? 0 : 255;
    header_.Threshold = threshold;
    bytePlanes_[kMaskPlane] = std::move(mask);
    UpdatePresenceFlags();
    PlanesChanged();
    modified_ = true;
}

void TPhaseShiftMoire::ComputePhase()
{
    for (int i = 1; i <= 4; ++i)
        if (!bytePlanes_[i]) throw EAppError("you should give 4 images");
    const int32_t method = header_.PhaseShiftMethod;
    if (method != kEqual4Step && method != kConst4Step)
        throw EAppError("Unknown phase shifting method " + std::to_string(method) +
                        ": it must be 1111 (Equal 4 Step) or 2222 (Const 4 Step)");
    const size_t n = Pixels();
    std::unique_ptr<float[]> phase = Allocate<float>(n, "No memory to allocate", false);
    ComputeWrappedPhase(method, bytePlanes_[1].get(), bytePlanes_[2].get(), bytePlanes_[3].get(),
                        bytePlanes_[4].get(), n, phase.get());
    floatPlanes_[0] = std::move(phase);
    UpdatePresenceFlags();
    PlanesChanged();
    modified_ = true;
}

void TPhaseShiftMoire::UnwrapPhase()
{
    const float* phase = floatPlanes_[0].get();
    if (!phase) throw EAppError("Compute the phase First!");
    const int32_t startX = header_.StartPointAuto ? header_.X0 : header_.StartX;
    const int32_t startY = header_.StartPointAuto ? header_.Y0 : header_.StartY;

    std::unique_ptr<float[]> unwrapped;
    std::unique_ptr<uint8_t[]> mask;
    try {
        const uint8_t* oldMask = bytePlanes_[kMaskPlane].get();
        TNewUnwrapForm unwrapper(header_.Width, header_.Height, oldMask, phase, startX, startY);
        PleaseWait box;
        unwrapper.Prepare();
        unwrapper.Unwrap();
        // Mend: a pixel the fills gave a value or no path reached is marked invalid (255).
        // (It counted as measured though off by up to a neighbour's phase difference; its
        // filled value stays in the unwrapped phase for the picture.)
        const uint8_t* measured = unwrapper.Measured();
        const size_t n = Pixels();
        for (size_t i = 0; i < n; ++i) {
            if (measured[i] || (oldMask && oldMask[i] == 255)) continue;
            if (!mask) {
                mask.reset(new uint8_t[n]);
                if (oldMask)
                    std::memcpy(mask.get(), oldMask, n);
                else
                    std::memset(mask.get(), 0, n);
            }
            mask[i] = 255;
        }
        unwrapped = unwrapper.TakeOutput();
        unwrapper.FreeMarker();
    } catch (const std::bad_alloc&) {
        throw EAppError("No memory to allocate");
    }
    floatPlanes_[1] = std::move(unwrapped);
    if (mask) bytePlanes_[kMaskPlane] = std::move(mask);
    UpdatePresenceFlags();
    PlanesChanged();
    modified_ = true;
}

void TPhaseShiftMoire::SetPleaseWait(std::function<void(bool visible)> pleaseWait)
{
    PleaseWaitHandler() = std::move(pleaseWait);
}
