// Vector and matrix math shared by the whole engine.
//
// Row-vector convention: a vector is transformed as v' = v · M. Rows 0, 1 and 2 of a transform
// hold the images of the X, Y and Z axes, row 3 the translation, so a TMatrix is exactly the
// 16 floats glLoadMatrixf expects. MultiplyMatrices(A, B) = A · B applies A first.
// Angles are radians here. Arithmetic is done in double and the results are stored as float.
// Nothing here allocates, throws or tests for zero: with floating-point exceptions masked, a
// division by zero simply yields an infinity or a NaN.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numbers>
#include <type_traits>

using TAffineVector = std::array<float, 3>;
// Homogeneous vector: w = 1 for a point, 0 for a direction; also a plane (a, b, c, d) and RGBA.
using TVector = std::array<float, 4>;
using TMatrix = std::array<TVector, 4>;

struct TTexPoint {
    float S;
    float T;
};

// Rotation quaternion: the imaginary part (x, y, z) first, then the real part w.
struct TQuaternion {
    TAffineVector ImagPart;
    float RealPart;
};

enum TFrustumPlane : uint8_t { fpLeft, fpTop, fpRight, fpBottom, fpNear, fpFar };
// Six planes indexed by TFrustumPlane; a point is inside when every plane evaluates to >= 0.
using TFrustum = std::array<TVector, 6>;

static_assert(sizeof(TMatrix) == 16 * sizeof(float) && std::is_trivially_copyable_v<TMatrix>);
static_assert(sizeof(TTexPoint) == 2 * sizeof(float) && std::is_trivially_copyable_v<TTexPoint>);
static_assert(sizeof(TQuaternion) == 4 * sizeof(float) &&
              std::is_trivially_copyable_v<TQuaternion>);

// Vectors of three or four singles share their componentwise operations.
template <std::size_t N>
concept VectorSize = N == 3 || N == 4;

// ---- Named constants ----------------------------------------------------------------------

inline constexpr TAffineVector XVector{1, 0, 0};
inline constexpr TAffineVector YVector{0, 1, 0};
inline constexpr TAffineVector ZVector{0, 0, 1};
inline constexpr TAffineVector XYZVector{1, 1, 1};
inline constexpr TAffineVector NullVector{0, 0, 0};
inline constexpr TVector XHmgVector{1, 0, 0, 0};
inline constexpr TVector YHmgVector{0, 1, 0, 0};
inline constexpr TVector ZHmgVector{0, 0, 1, 0};
inline constexpr TVector WHmgVector{0, 0, 0, 1};
inline constexpr TVector XYZHmgVector{1, 1, 1, 0};
inline constexpr TVector NullHmgVector{0, 0, 0, 0};
inline constexpr TVector NullHmgPoint{0, 0, 0, 1};
inline constexpr TMatrix IdentityHmgMatrix{
    {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
inline constexpr TMatrix EmptyHmgMatrix{};

// Below this determinant (or squared row length) a matrix counts as singular: 1e-40 as a single,
// which is a denormal.
inline constexpr float cInversionThreshold = std::bit_cast<float>(0x000116C2u);
inline constexpr float cPIdiv180 = std::bit_cast<float>(0x3C8EFA35u);
inline constexpr float c180divPI = std::bit_cast<float>(0x42652EE1u);
inline constexpr float cInv360 = std::bit_cast<float>(0x3B360B61u);
inline constexpr float c180 = 180.0f;
inline constexpr float c360 = 360.0f;

// ---- Construction -------------------------------------------------------------------------

inline TAffineVector AffineVectorMake(float x, float y, float z) {
    return {x, y, z};
}
// The x, y, z of a homogeneous vector.
inline TAffineVector AffineVectorMake(const TVector& v) {
    return {v[0], v[1], v[2]};
}
inline TVector VectorMake(float x, float y, float z, float w) {
    return {x, y, z, w};
}
inline TVector VectorMake(const TAffineVector& v, float w) {
    return {v[0], v[1], v[2], w};
}
inline TVector PointMake(float x, float y, float z) {
    return {x, y, z, 1};
}
inline TVector PointMake(const TAffineVector& v) {
    return {v[0], v[1], v[2], 1};
}
inline TTexPoint TexPointMake(float s, float t) {
    return {s, t};
}

// ---- Componentwise operations (every component, w included) -------------------------------

template <std::size_t N>
requires VectorSize<N>
inline std::array<float, N> VectorAdd(const std::array<float, N>& a,
                                      const std::array<float, N>& b) {
    std::array<float, N> result;
    for (std::size_t i = 0; i < N; ++i)
        result[i] = static_cast<float>(static_cast<double>(a[i]) + b[i]);
    return result;
}

template <std::size_t N>
requires VectorSize<N>
inline void AddVector(std::array<float, N>& a, const std::array<float, N>& b) {
    a = VectorAdd(a, b);
}

template <std::size_t N>
requires VectorSize<N>
inline std::array<float, N> VectorSubtract(const std::array<float, N>& a,
                                           const std::array<float, N>& b) {
    std::array<float, N> result;
    for (std::size_t i = 0; i < N; ++i)
        result[i] = static_cast<float>(static_cast<double>(a[i]) - b[i]);
    return result;
}

template <std::size_t N>
requires VectorSize<N>
inline void SubtractVector(std::array<float, N>& a, const std::array<float, N>& b) {
    a = VectorSubtract(a, b);
}

template <std::size_t N>
requires VectorSize<N>
inline std::array<float, N> VectorNegate(const std::array<float, N>& a) {
    std::array<float, N> result;
    for (std::size_t i = 0; i < N; ++i)
        result[i] = -a[i];
    return result;
}

template <std::size_t N>
requires VectorSize<N>
inline void NegateVector(std::array<float, N>& a) {
    a = VectorNegate(a);
}

template <std::size_t N>
requires VectorSize<N>
inline std::array<float, N> VectorScale(const std::array<float, N>& a, float factor) {
    std::array<float, N> result;
    for (std::size_t i = 0; i < N; ++i)
        result[i] = static_cast<float>(static_cast<double>(a[i]) * factor);
    return result;
}

template <std::size_t N>
requires VectorSize<N>
inline void ScaleVector(std::array<float, N>& a, float factor) {
    a = VectorScale(a, factor);
}

// Componentwise product, as used to apply a scale vector to dimensions.
template <std::size_t N>
requires VectorSize<N>
inline std::array<float, N> VectorMultiply(const std::array<float, N>& a,
                                           const std::array<float, N>& b) {
    std::array<float, N> result;
    for (std::size_t i = 0; i < N; ++i)
        result[i] = static_cast<float>(static_cast<double>(a[i]) * b[i]);
    return result;
}

template <std::size_t N>
requires VectorSize<N>
inline void MultiplyVector(std::array<float, N>& a, const std::array<float, N>& b) {
    a = VectorMultiply(a, b);
}

// a + b · factor.
template <std::size_t N>
requires VectorSize<N>
inline std::array<float, N> VectorCombine(const std::array<float, N>& a,
                                          const std::array<float, N>& b, float factor) {
    std::array<float, N> result;
    for (std::size_t i = 0; i < N; ++i)
        result[i] = static_cast<float>(a[i] + static_cast<double>(b[i]) * factor);
    return result;
}

// factorA · a + factorB · b.
template <std::size_t N>
requires VectorSize<N>
inline std::array<float, N> VectorCombine(const std::array<float, N>& a,
                                          const std::array<float, N>& b, float factorA,
                                          float factorB) {
    std::array<float, N> result;
    for (std::size_t i = 0; i < N; ++i)
        result[i] = static_cast<float>(static_cast<double>(a[i]) * factorA +
                                       static_cast<double>(b[i]) * factorB);
    return result;
}

// a := a + b · factor.
template <std::size_t N>
requires VectorSize<N>
inline void CombineVector(std::array<float, N>& a, const std::array<float, N>& b, float factor) {
    a = VectorCombine(a, b, factor);
}

// Bit-pattern equality: 0.0 and -0.0 differ, a NaN equals its own copy.
template <std::size_t N>
requires VectorSize<N>
inline bool SameBits(const std::array<float, N>& a, const std::array<float, N>& b) {
    for (std::size_t i = 0; i < N; ++i)
        if (std::bit_cast<uint32_t>(a[i]) != std::bit_cast<uint32_t>(b[i]))
            return false;
    return true;
}

// x, y and z are numerically zero (-0.0 included); w is ignored.
template <std::size_t N>
requires VectorSize<N>
inline bool IsZeroDirection(const std::array<float, N>& v) {
    return v[0] == 0.0f && v[1] == 0.0f && v[2] == 0.0f;
}

// ---- Products, lengths and normalization (x, y, z unless stated) ---------------------------

inline float DotProduct(const TAffineVector& a, const TAffineVector& b) {
    return static_cast<float>(static_cast<double>(a[0]) * b[0] + static_cast<double>(a[1]) * b[1] +
                              static_cast<double>(a[2]) * b[2]);
}

// All four components.
inline float DotProduct(const TVector& a, const TVector& b) {
    return static_cast<float>(static_cast<double>(a[0]) * b[0] + static_cast<double>(a[1]) * b[1] +
                              static_cast<double>(a[2]) * b[2] + static_cast<double>(a[3]) * b[3]);
}

// x, y, z only.
inline float DotProduct(const TVector& a, const TAffineVector& b) {
    return DotProduct(AffineVectorMake(a), b);
}

inline TAffineVector CrossProduct(const TAffineVector& a, const TAffineVector& b) {
    const double ax = a[0], ay = a[1], az = a[2];
    return {static_cast<float>(ay * b[2] - az * b[1]), static_cast<float>(az * b[0] - ax * b[2]),
            static_cast<float>(ax * b[1] - ay * b[0])};
}

// Cross product of the x, y, z parts; w = 0.
inline TVector CrossProduct(const TVector& a, const TVector& b) {
    return VectorMake(CrossProduct(AffineVectorMake(a), AffineVectorMake(b)), 0);
}

// x² + y² + z² (w ignored).
template <std::size_t N>
requires VectorSize<N>
inline float SquaredNorm(const std::array<float, N>& v) {
    return static_cast<float>(static_cast<double>(v[0]) * v[0] + static_cast<double>(v[1]) * v[1] +
                              static_cast<double>(v[2]) * v[2]);
}

// sqrt(x² + y² + z²), w ignored.
template <std::size_t N>
requires VectorSize<N>
inline float LengthOf(const std::array<float, N>& v) {
    return static_cast<float>(std::sqrt(static_cast<double>(v[0]) * v[0] +
                                        static_cast<double>(v[1]) * v[1] +
                                        static_cast<double>(v[2]) * v[2]));
}

// sqrt(a² + b²).
inline float LengthOf(float a, float b) {
    return static_cast<float>(std::sqrt(static_cast<double>(a) * a + static_cast<double>(b) * b));
}

// Squared distance of the x, y, z parts.
template <std::size_t N>
requires VectorSize<N>
inline float DistanceSquared(const std::array<float, N>& a, const std::array<float, N>& b) {
    const double dx = static_cast<double>(a[0]) - b[0];
    const double dy = static_cast<double>(a[1]) - b[1];
    const double dz = static_cast<double>(a[2]) - b[2];
    return static_cast<float>(dx * dx + dy * dy + dz * dz);
}

// x, y, z times 1/length; the homogeneous form sets w = 0. A zero vector gives NaNs.
template <std::size_t N>
requires VectorSize<N>
inline std::array<float, N> Normalized(const std::array<float, N>& v) {
    const double inverse =
        1.0 / std::sqrt(static_cast<double>(v[0]) * v[0] + static_cast<double>(v[1]) * v[1] +
                        static_cast<double>(v[2]) * v[2]);
    std::array<float, N> result;
    for (std::size_t i = 0; i < 3; ++i)
        result[i] = static_cast<float>(v[i] * inverse);
    if constexpr (N == 4)
        result[3] = 0;
    return result;
}

template <std::size_t N>
requires VectorSize<N>
inline void NormalizeInPlace(std::array<float, N>& v) {
    v = Normalized(v);
}

// ---- Transforms ---------------------------------------------------------------------------

// v · M over all four components: w = 1 picks up the translation row, w = 0 does not.
inline TVector TransformVector(const TVector& v, const TMatrix& m) {
    TVector result;
    for (std::size_t j = 0; j < 4; ++j)
        result[j] = static_cast<float>(
            static_cast<double>(v[0]) * m[0][j] + static_cast<double>(v[1]) * m[1][j] +
            static_cast<double>(v[2]) * m[2][j] + static_cast<double>(v[3]) * m[3][j]);
    return result;
}

// The point (x, y, z, 1) · M, returning x, y, z.
inline TAffineVector TransformAffine(const TAffineVector& v, const TMatrix& m) {
    return AffineVectorMake(TransformVector(PointMake(v), m));
}

// A · B. Returned by value, so `a = MultiplyMatrices(a, b)` is safe.
inline TMatrix MultiplyMatrices(const TMatrix& a, const TMatrix& b) {
    TMatrix result;
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t j = 0; j < 4; ++j)
            result[i][j] = static_cast<float>(
                static_cast<double>(a[i][0]) * b[0][j] + static_cast<double>(a[i][1]) * b[1][j] +
                static_cast<double>(a[i][2]) * b[2][j] + static_cast<double>(a[i][3]) * b[3][j]);
    return result;
}

// Rotation by `angle` radians about `axis` (normalized here). Under the row-vector convention
// v · R turns v by -angle: about +Z by π/2, (1, 0, 0) becomes (0, -1, 0). Callers rely on this.
TMatrix RotationMatrixAboutAxis(const TAffineVector& axis, double angle);

inline TMatrix RotationMatrixAboutAxis(const TVector& axis, double angle) {
    return RotationMatrixAboutAxis(AffineVectorMake(axis), angle);
}

// v := v · RotationMatrixAboutAxis(axis, angle).
inline void RotateAboutAxis(TVector& v, const TAffineVector& axis, double angle) {
    v = TransformVector(v, RotationMatrixAboutAxis(axis, angle));
}

inline void RotateAboutAxis(TVector& v, const TVector& axis, double angle) {
    RotateAboutAxis(v, AffineVectorMake(axis), angle);
}

// In place: adjoint / determinant; a matrix with |determinant| < 1e-40 becomes the identity.
void InvertGeneralMatrix(TMatrix& m);

// Inverse of a rotation with uniform scale and translation. A zero row 0 gives the identity.
TMatrix InvertRigidMatrix(const TMatrix& m);

// Diagonal (scale.x, scale.y, scale.z, 1), translation row (offset.x, offset.y, offset.z, 1).
inline TMatrix ScaleTranslateMatrix(const TVector& scale, const TVector& offset) {
    return {{{scale[0], 0, 0, 0},
             {0, scale[1], 0, 0},
             {0, 0, scale[2], 0},
             {offset[0], offset[1], offset[2], 1}}};
}

// ---- Angles and scalar helpers ------------------------------------------------------------

// The single forms multiply by the single constants, the double forms by the exact ratios.
inline float DegreesToRadians(float degrees) {
    return static_cast<float>(static_cast<double>(degrees) * cPIdiv180);
}
inline double DegreesToRadians(double degrees) {
    return degrees * (std::numbers::pi / 180.0);
}
inline float RadiansToDegrees(float radians) {
    return static_cast<float>(static_cast<double>(radians) * c180divPI);
}
inline double RadiansToDegrees(double radians) {
    return radians * (180.0 / std::numbers::pi);
}

// Brings an angle in degrees into [-180, 180]; 180 stays 180 and -180 stays -180.
float WrapDegrees(float degrees);

// atan2(sqrt(1 - x²), x); NaN outside [-1, 1].
inline double ArcCosine(double x) {
    return std::atan2(std::sqrt(1.0 - x * x), x);
}
inline double ArcTangent2(double y, double x) {
    return std::atan2(y, x);
}
inline double Tangent(double x) {
    return std::tan(x);
}

inline double ClampToRange(double value, double min, double max) {
    if (value < min)
        return min;
    if (value > max)
        return max;
    return value;
}

// Toward zero. Out-of-range values saturate to the int64 limits and NaN gives 0.
inline int64_t Trunc(double x) {
    constexpr double limit = 9223372036854775808.0; // 2^63
    if (std::isnan(x))
        return 0;
    if (x >= limit)
        return std::numeric_limits<int64_t>::max();
    if (x < -limit)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(x);
}

// Nearest integer, ties to even (2.5 gives 2, 3.5 gives 4); saturates as Trunc does.
inline int64_t Round(double x) {
    return Trunc(std::nearbyint(x));
}

inline int32_t MaxInteger(int32_t a, int32_t b) {
    return a > b ? a : b;
}

// base^exponent: integral exponents by repeated squaring (so negative bases work),
// others through exp(exponent · ln(base)).
double RaisePower(double base, double exponent);

// ---- Frustum ------------------------------------------------------------------------------

// Planes of a modelview · projection matrix, each scaled to a unit normal.
TFrustum FrustumFromMatrix(const TMatrix& m);

namespace VectorGeometryDetail {
inline bool SphereOutsideFrustum(double x, double y, double z, double radius,
                                 const TFrustum& frustum) {
    for (const TVector& plane : frustum)
        if (plane[0] * x + plane[1] * y + plane[2] * z + plane[3] < -radius)
            return true;
    return false;
}
} // namespace VectorGeometryDetail

// True when the sphere lies entirely on the outer side of at least one plane.
inline bool SphereOutsideFrustum(const TAffineVector& centre, float radius,
                                 const TFrustum& frustum) {
    return VectorGeometryDetail::SphereOutsideFrustum(centre[0], centre[1], centre[2], radius,
                                                      frustum);
}

inline bool SphereOutsideFrustum(const TVector& centre, float radius, const TFrustum& frustum) {
    return SphereOutsideFrustum(AffineVectorMake(centre), radius, frustum);
}

// Tests the box's bounding sphere: centre (min + max) / 2, radius half the diagonal.
bool BoxOutsideFrustum(const TAffineVector& min, const TAffineVector& max, const TFrustum& frustum);

inline bool BoxOutsideFrustum(const TVector& min, const TVector& max, const TFrustum& frustum) {
    return BoxOutsideFrustum(AffineVectorMake(min), AffineVectorMake(max), frustum);
}
