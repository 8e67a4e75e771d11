#include "engine/geometry/VectorGeometry.h"

namespace {

using TDoubleMatrix = std::array<std::array<double, 4>, 4>;

// Determinant of the 3×3 minor of m that leaves out `row` and `column`.
double MinorDeterminant(const TMatrix& m, std::size_t row, std::size_t column) {
    std::array<std::size_t, 3> rows{}, columns{};
    for (std::size_t i = 0, r = 0, c = 0; i < 4; ++i) {
        if (i != row)
            rows[r++] = i;
        if (i != column)
            columns[c++] = i;
    }
    const auto at = [&](std::size_t i, std::size_t j) -> double { return m[rows[i]][columns[j]]; };
    return at(0, 0) * (at(1, 1) * at(2, 2) - at(1, 2) * at(2, 1)) -
           at(0, 1) * (at(1, 0) * at(2, 2) - at(1, 2) * at(2, 0)) +
           at(0, 2) * (at(1, 0) * at(2, 1) - at(1, 1) * at(2, 0));
}

TDoubleMatrix Cofactors(const TMatrix& m) {
    TDoubleMatrix cofactors;
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t j = 0; j < 4; ++j)
            cofactors[i][j] = ((i + j) % 2 == 0 ? 1.0 : -1.0) * MinorDeterminant(m, i, j);
    return cofactors;
}

// Folds an angle that is at most one turn away from [-180, 180] into that range.
double FoldHalfTurn(double degrees) {
    if (degrees > c180)
        return degrees - c360;
    if (degrees < -c180)
        return degrees + c360;
    return degrees;
}

double IntegerPower(double base, int64_t exponent) {
    uint64_t remaining = static_cast<uint64_t>(exponent < 0 ? -exponent : exponent);
    double result = 1.0;
    double square = base;
    while (remaining != 0) {
        if (remaining & 1u)
            result *= square;
        remaining >>= 1;
        if (remaining != 0)
            square *= square;
    }
    return exponent < 0 ? 1.0 / result : result;
}

// col3 + sign · col_k, scaled to a unit normal.
TVector FrustumPlane(const TMatrix& m, std::size_t k, double sign) {
    std::array<double, 4> plane;
    for (std::size_t i = 0; i < 4; ++i)
        plane[i] = m[i][3] + sign * m[i][k];
    const double inverse =
        1.0 / std::sqrt(plane[0] * plane[0] + plane[1] * plane[1] + plane[2] * plane[2]);
    TVector result;
    for (std::size_t i = 0; i < 4; ++i)
        result[i] = static_cast<float>(plane[i] * inverse);
    return result;
}

} // namespace

TMatrix RotationMatrixAboutAxis(const TAffineVector& axis, double angle) {
    const double inverseLength = 1.0 / std::sqrt(static_cast<double>(axis[0]) * axis[0] +
                                                 static_cast<double>(axis[1]) * axis[1] +
                                                 static_cast<double>(axis[2]) * axis[2]);
    const double x = axis[0] * inverseLength, y = axis[1] * inverseLength,
                 z = axis[2] * inverseLength;
    const double c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
    const auto f = [](double value) { return static_cast<float>(value); };
    return {{{f(t * x * x + c), f(t * x * y - z * s), f(t * x * z + y * s), 0},
             {f(t * x * y + z * s), f(t * y * y + c), f(t * y * z - x * s), 0},
             {f(t * x * z - y * s), f(t * y * z + x * s), f(t * z * z + c), 0},
             {0, 0, 0, 1}}};
}

void InvertGeneralMatrix(TMatrix& m) {
    const TDoubleMatrix cofactors = Cofactors(m);
    double determinant = 0;
    for (std::size_t j = 0; j < 4; ++j)
        determinant += m[0][j] * cofactors[0][j];
    if (std::fabs(determinant) < cInversionThreshold) {
        m = IdentityHmgMatrix;
        return;
    }
    const double inverse = 1.0 / determinant;
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t j = 0; j < 4; ++j)
            m[i][j] = static_cast<float>(cofactors[j][i] * inverse);
}

TMatrix InvertRigidMatrix(const TMatrix& m) {
    const double squaredScale = static_cast<double>(m[0][0]) * m[0][0] +
                                static_cast<double>(m[0][1]) * m[0][1] +
                                static_cast<double>(m[0][2]) * m[0][2];
    if (std::fabs(squaredScale) < cInversionThreshold)
        return IdentityHmgMatrix;
    const double inverseScale = 1.0 / squaredScale;
    std::array<std::array<double, 3>, 3> block;
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j)
            block[i][j] = m[j][i] * inverseScale;
    TMatrix result{};
    for (std::size_t j = 0; j < 3; ++j) {
        double translated = 0;
        for (std::size_t i = 0; i < 3; ++i) {
            result[i][j] = static_cast<float>(block[i][j]);
            translated += m[3][i] * block[i][j];
        }
        result[3][j] = static_cast<float>(-translated);
    }
    result[3][3] = 1;
    return result;
}

float WrapDegrees(float degrees) {
    const double angle = degrees;
    double result = FoldHalfTurn(angle - std::trunc(angle * cInv360) * c360);
    // Past about 2e10 degrees the single 1/360 is off by more than a turn; reduce exactly there.
    if (!(result >= -c180 && result <= c180))
        result = FoldHalfTurn(std::fmod(angle, c360));
    return static_cast<float>(result);
}

double RaisePower(double base, double exponent) {
    if (exponent == 0)
        return 1;
    if (base == 0 && exponent > 0)
        return 0;
    if (std::trunc(exponent) == exponent && std::fabs(exponent) <= INT32_MAX)
        return IntegerPower(base, static_cast<int64_t>(exponent));
    return std::exp(exponent * std::log(base));
}

TFrustum FrustumFromMatrix(const TMatrix& m) {
    TFrustum frustum;
    frustum[fpLeft] = FrustumPlane(m, 0, 1);
    frustum[fpTop] = FrustumPlane(m, 1, -1);
    frustum[fpRight] = FrustumPlane(m, 0, -1);
    frustum[fpBottom] = FrustumPlane(m, 1, 1);
    frustum[fpNear] = FrustumPlane(m, 2, 1);
    frustum[fpFar] = FrustumPlane(m, 2, -1);
    return frustum;
}

bool BoxOutsideFrustum(const TAffineVector& min, const TAffineVector& max,
                       const TFrustum& frustum) {
    double centre[3];
    double squaredDiagonal = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        centre[i] = (static_cast<double>(min[i]) + max[i]) * 0.5;
        const double extent = static_cast<double>(max[i]) - min[i];
        squaredDiagonal += extent * extent;
    }
    return VectorGeometryDetail::SphereOutsideFrustum(centre[0], centre[1], centre[2],
                                                      0.5 * std::sqrt(squaredDiagonal), frustum);
}
