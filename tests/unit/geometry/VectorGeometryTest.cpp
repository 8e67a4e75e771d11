#include "engine/geometry/VectorGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace {

void ExpectMatrixNear(const TMatrix& actual, const TMatrix& expected, float tolerance) {
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t j = 0; j < 4; ++j)
            EXPECT_NEAR(actual[i][j], expected[i][j], tolerance) << "element " << i << "," << j;
}

// Row 3 holds the translation: v · Translation(t) adds t to a point.
TMatrix Translation(float x, float y, float z) {
    return {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {x, y, z, 1}}};
}

// What glFrustum(-1, 1, -1, 1, 1, 3) builds; every element is exact in single precision.
TMatrix KnownProjection() {
    return {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, -2, -1}, {0, 0, -3, 0}}};
}

uint32_t Bits(float value) {
    return std::bit_cast<uint32_t>(value);
}

} // namespace

TEST(VectorGeometryConstants, HaveTheirExactSingleBitPatterns) {
    EXPECT_EQ(Bits(cInversionThreshold), 0x000116C2u);
    EXPECT_EQ(std::fpclassify(cInversionThreshold), FP_SUBNORMAL);
    EXPECT_EQ(cInversionThreshold, static_cast<float>(1e-40));
    EXPECT_EQ(cPIdiv180, static_cast<float>(std::numbers::pi / 180));
    EXPECT_EQ(c180divPI, static_cast<float>(180 / std::numbers::pi));
    EXPECT_EQ(cInv360, static_cast<float>(1.0 / 360));
}

TEST(VectorGeometryVectors, ComponentwiseOperationsCoverW) {
    const TVector a{1, 2, 3, 1}, b{4, 5, 6, 0};
    EXPECT_EQ(VectorAdd(a, b), (TVector{5, 7, 9, 1}));
    EXPECT_EQ(VectorSubtract(a, b), (TVector{-3, -3, -3, 1}));
    EXPECT_EQ(VectorNegate(a), (TVector{-1, -2, -3, -1}));
    EXPECT_EQ(VectorScale(a, 2), (TVector{2, 4, 6, 2}));
    EXPECT_EQ(VectorMultiply(a, b), (TVector{4, 10, 18, 0}));
    EXPECT_EQ(VectorCombine(a, b, 2), (TVector{9, 12, 15, 1}));
    EXPECT_EQ(VectorCombine(a, b, 2, -1), (TVector{-2, -1, 0, 2}));
    TVector c = a;
    AddVector(c, b);
    CombineVector(c, b, -1);
    EXPECT_EQ(c, a);
    TAffineVector d{1, 2, 3};
    ScaleVector(d, -1);
    SubtractVector(d, TAffineVector{1, 1, 1});
    EXPECT_EQ(d, (TAffineVector{-2, -3, -4}));
}

TEST(VectorGeometryVectors, ProductsAndLengths) {
    EXPECT_EQ(CrossProduct(XVector, YVector), ZVector);
    EXPECT_EQ(CrossProduct(YVector, XVector), (TAffineVector{0, 0, -1}));
    EXPECT_EQ(CrossProduct(ZVector, XVector), YVector);
    EXPECT_EQ(CrossProduct(TVector{0, 1, 0, 1}, TVector{0, 0, 1, 1}), XHmgVector); // w = 0
    EXPECT_EQ(DotProduct(TVector{1, 2, 3, 4}, TVector{5, 6, 7, 8}), 70);
    EXPECT_EQ(DotProduct(TVector{1, 2, 3, 4}, TAffineVector{5, 6, 7}), 38);
    // Single arithmetic would lose the 1 against 1e8.
    EXPECT_EQ(DotProduct(TAffineVector{1e8f, 1, -1e8f}, XYZVector), 1);
    EXPECT_EQ(LengthOf(TVector{3, 4, 0, 100}), 5);
    EXPECT_EQ(LengthOf(3, 4), 5);
    EXPECT_EQ(SquaredNorm(TAffineVector{1, 2, 2}), 9);
    EXPECT_EQ(DistanceSquared(TVector{1, 2, 3, 1}, TVector{4, 6, 3, 0}), 25);
}

TEST(VectorGeometryVectors, NormalizationClearsWAndDoesNotGuardZero) {
    EXPECT_EQ(Normalized(TVector{3, 0, 4, 1}), (TVector{0.6f, 0, 0.8f, 0}));
    TAffineVector v{0, -2, 0};
    NormalizeInPlace(v);
    EXPECT_EQ(v, (TAffineVector{0, -1, 0}));
    const TVector zero = Normalized(TVector{0, 0, 0, 1});
    EXPECT_TRUE(std::isnan(zero[0]) && std::isnan(zero[1]) && std::isnan(zero[2]));
}

TEST(VectorGeometryVectors, SameBitsAndIsZeroDirectionDisagreeOnNegativeZero) {
    EXPECT_FALSE(SameBits(TVector{0, 1, 0, 0}, TVector{0, 1, -0.0f, 0}));
    EXPECT_TRUE(SameBits(TVector{0, 1, 0, 0}, YHmgVector));
    EXPECT_FALSE(SameBits(TAffineVector{1, 2, 3}, TAffineVector{1, 2, 4}));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(SameBits(TAffineVector{nan, 0, 0}, TAffineVector{nan, 0, 0}));
    EXPECT_TRUE(IsZeroDirection(TVector{-0.0f, 0, 0, 1}));
    EXPECT_TRUE(IsZeroDirection(TVector{0, -0.0f, 0, 5}));
    EXPECT_FALSE(IsZeroDirection(TVector{0, 0, std::numeric_limits<float>::denorm_min(), 0}));
}

TEST(VectorGeometryMatrices, TransformVectorUsesRowsAndW) {
    const TMatrix m{{{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}}};
    EXPECT_EQ(TransformVector(TVector{1, 1, 1, 0}, m), (TVector{15, 18, 21, 24}));
    EXPECT_EQ(TransformVector(TVector{1, 1, 1, 1}, m), (TVector{28, 32, 36, 40}));
    const TMatrix move = Translation(10, 20, 30);
    EXPECT_EQ(TransformVector(TVector{1, 2, 3, 0}, move), (TVector{1, 2, 3, 0}));
    EXPECT_EQ(TransformVector(TVector{1, 2, 3, 1}, move), (TVector{11, 22, 33, 1}));
    EXPECT_EQ(TransformAffine(TAffineVector{1, 2, 3}, move), (TAffineVector{11, 22, 33}));
}

TEST(VectorGeometryMatrices, MultiplyAppliesTheLeftMatrixFirst) {
    const TMatrix quarterTurn{{{0, -1, 0, 0}, {1, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    const TMatrix move = Translation(1, 0, 0);
    EXPECT_EQ(TransformVector(NullHmgPoint, MultiplyMatrices(move, quarterTurn)),
              (TVector{0, -1, 0, 1}));
    EXPECT_EQ(TransformVector(NullHmgPoint, MultiplyMatrices(quarterTurn, move)),
              (TVector{1, 0, 0, 1}));
    const TMatrix a{{{1, 2, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 3}, {0, 0, 0, 1}}};
    const TMatrix b{{{1, 0, 0, 0}, {4, 1, 0, 0}, {0, 0, 2, 0}, {5, 6, 7, 1}}};
    EXPECT_EQ(MultiplyMatrices(a, b),
              (TMatrix{{{9, 2, 0, 0}, {4, 1, 0, 0}, {15, 18, 23, 3}, {5, 6, 7, 1}}}));
    EXPECT_EQ(ScaleTranslateMatrix(TVector{2, 3, 4, 0}, TVector{5, 6, 7, 0}),
              MultiplyMatrices(TMatrix{{{2, 0, 0, 0}, {0, 3, 0, 0}, {0, 0, 4, 0}, {0, 0, 0, 1}}},
                               Translation(5, 6, 7)));
}

TEST(VectorGeometryRotation, TurnsByMinusTheAngleUnderRowVectors) {
    TVector v = XHmgVector;
    RotateAboutAxis(v, ZVector, std::numbers::pi / 2);
    EXPECT_NEAR(v[0], 0, 1e-7);
    EXPECT_NEAR(v[1], -1, 1e-7);
    EXPECT_EQ(v[2], 0);
    EXPECT_EQ(v[3], 0);
    const TMatrix r = RotationMatrixAboutAxis(TVector{0, 0, 5, 0}, std::numbers::pi / 2);
    ExpectMatrixNear(r, {{{0, -1, 0, 0}, {1, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}}, 1e-7f);
    // A third of a turn about the diagonal permutes the axes: X goes to Z under v · R.
    const TMatrix diagonal = RotationMatrixAboutAxis(XYZVector, 2 * std::numbers::pi / 3);
    ExpectMatrixNear(diagonal, {{{0, 0, 1, 0}, {1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 0, 1}}}, 1e-6f);
}

TEST(VectorGeometryInversion, GeneralInversionOfExactAndSingularMatrices) {
    TMatrix m{{{2, 1, 0, 0}, {1, 1, 0, 0}, {0, 0, 1, 0}, {3, 4, 5, 1}}};
    const TMatrix original = m;
    InvertGeneralMatrix(m);
    EXPECT_EQ(MultiplyMatrices(original, m), IdentityHmgMatrix);
    TMatrix projection = KnownProjection();
    InvertGeneralMatrix(projection);
    ExpectMatrixNear(MultiplyMatrices(KnownProjection(), projection), IdentityHmgMatrix, 1e-6f);
    TMatrix zero = EmptyHmgMatrix;
    InvertGeneralMatrix(zero);
    EXPECT_EQ(zero, IdentityHmgMatrix);
    TMatrix rankThree{{{1, 2, 3, 0}, {2, 4, 6, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    InvertGeneralMatrix(rankThree);
    EXPECT_EQ(rankThree, IdentityHmgMatrix);
}

TEST(VectorGeometryInversion, DeterminantThresholdIsOneE40InDouble) {
    TMatrix tiny{{{1e-15f, 0, 0, 0}, {0, 1e-15f, 0, 0}, {0, 0, 1e-15f, 0}, {0, 0, 0, 1e6f}}};
    InvertGeneralMatrix(tiny); // determinant 1e-39: underflows in single, not in double
    EXPECT_FLOAT_EQ(tiny[0][0], 1e15f);
    EXPECT_FLOAT_EQ(tiny[3][3], 1e-6f);
    TMatrix below{{{0.9e-20f, 0, 0, 0}, {0, 0.9e-20f, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    InvertGeneralMatrix(below);
    EXPECT_EQ(below, IdentityHmgMatrix);
    TMatrix above{{{1.1e-20f, 0, 0, 0}, {0, 1.1e-20f, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    InvertGeneralMatrix(above);
    EXPECT_FLOAT_EQ(above[0][0], static_cast<float>(1 / static_cast<double>(1.1e-20f)));
}

TEST(VectorGeometryInversion, RigidInversionMatchesGeneralOnlyForUniformScale) {
    const TMatrix scaledTurn{{{0, 2, 0, 0}, {-2, 0, 0, 0}, {0, 0, 2, 0}, {1, 2, 3, 1}}};
    const TMatrix rigid = InvertRigidMatrix(scaledTurn);
    EXPECT_EQ(
        rigid,
        (TMatrix{{{0, -0.5f, 0, 0}, {0.5f, 0, 0, 0}, {0, 0, 0.5f, 0}, {-1, 0.5f, -1.5f, 1}}}));
    TMatrix general = scaledTurn;
    InvertGeneralMatrix(general);
    EXPECT_EQ(general, rigid);

    const TMatrix stretched{{{2, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    EXPECT_EQ(InvertRigidMatrix(stretched)[1][1], 0.25f); // assumes row 0's scale everywhere
    general = stretched;
    InvertGeneralMatrix(general);
    EXPECT_EQ(general[1][1], 1);

    const TMatrix oblique =
        MultiplyMatrices(RotationMatrixAboutAxis(TVector{1, 2, 3, 0}, 0.7), Translation(4, -5, 6));
    ExpectMatrixNear(MultiplyMatrices(oblique, InvertRigidMatrix(oblique)), IdentityHmgMatrix,
                     1e-5f);
    EXPECT_EQ(InvertRigidMatrix(TMatrix{{{0.9e-20f, 0, 0, 0}, {0, 1, 0, 0}, {}, {7, 7, 7, 1}}}),
              IdentityHmgMatrix);
    EXPECT_FLOAT_EQ(InvertRigidMatrix(TMatrix{{{1.1e-20f, 0, 0, 0}, {}, {}, {0, 0, 0, 1}}})[0][0],
                    static_cast<float>(1 / static_cast<double>(1.1e-20f)));
}

TEST(VectorGeometryAngles, WrapDegrees) {
    EXPECT_EQ(WrapDegrees(540), 180);
    EXPECT_EQ(WrapDegrees(-190), 170);
    EXPECT_EQ(WrapDegrees(90), 90);
    EXPECT_EQ(WrapDegrees(180), 180);
    EXPECT_EQ(WrapDegrees(-180), -180);
    EXPECT_EQ(WrapDegrees(-540), -180);
    EXPECT_EQ(WrapDegrees(181), -179);
    EXPECT_EQ(WrapDegrees(720), 0);
    EXPECT_EQ(WrapDegrees(450), 90);
    // Far beyond where the single 1/360 is exact to a turn, the result still wraps.
    for (const float huge : {1e12f, -3e15f, 1e30f}) {
        const double wrapped = WrapDegrees(huge);
        const double rest = std::fmod(static_cast<double>(huge), 360) - wrapped;
        EXPECT_LE(std::fabs(wrapped), 180) << huge;
        EXPECT_TRUE(rest == 0 || std::fabs(rest) == 360) << huge;
    }
    EXPECT_TRUE(std::isnan(WrapDegrees(std::numeric_limits<float>::infinity())));
}

TEST(VectorGeometryAngles, ConversionsAndInverseTrigonometry) {
    EXPECT_EQ(DegreesToRadians(180.0f), static_cast<float>(std::numbers::pi));
    EXPECT_DOUBLE_EQ(DegreesToRadians(180.0), std::numbers::pi);
    EXPECT_EQ(RadiansToDegrees(1.0f), c180divPI);
    EXPECT_DOUBLE_EQ(RadiansToDegrees(std::numbers::pi / 4), 45);
    EXPECT_EQ(ArcCosine(1), 0);
    EXPECT_EQ(ArcCosine(-1), std::numbers::pi);
    EXPECT_DOUBLE_EQ(ArcCosine(0.5), std::numbers::pi / 3);
    EXPECT_TRUE(std::isnan(ArcCosine(1.0000001)));
    EXPECT_DOUBLE_EQ(ArcTangent2(1, -1), 3 * std::numbers::pi / 4);
    EXPECT_EQ(ClampToRange(-1, 0.025, 3), 0.025);
    EXPECT_EQ(ClampToRange(4, 0.025, 3), 3);
    EXPECT_EQ(ClampToRange(2, 0.025, 3), 2);
}

TEST(VectorGeometryScalars, RoundingTiesToEvenAndSaturates) {
    EXPECT_EQ(Round(0.5), 0);
    EXPECT_EQ(Round(1.5), 2);
    EXPECT_EQ(Round(2.5), 2);
    EXPECT_EQ(Round(3.5), 4);
    EXPECT_EQ(Round(-2.5), -2);
    EXPECT_EQ(Round(-3.5), -4);
    EXPECT_EQ(Round(2.5000001), 3);
    EXPECT_EQ(Round(-2.4999999), -2);
    EXPECT_EQ(Trunc(2.9), 2);
    EXPECT_EQ(Trunc(-2.9), -2);
    EXPECT_EQ(Round(1e30), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(Trunc(-1e30), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(Round(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(MaxInteger(-3, 2), 2);
    EXPECT_EQ(MaxInteger(-3, -7), -3);
}

TEST(VectorGeometryScalars, RaisePower) {
    EXPECT_EQ(RaisePower(0, 0), 1);
    EXPECT_EQ(RaisePower(-7, 0), 1);
    EXPECT_EQ(RaisePower(0, 3), 0);
    EXPECT_EQ(RaisePower(0, 0.5), 0);
    EXPECT_EQ(RaisePower(3, 13), 1594323);
    EXPECT_EQ(RaisePower(-2, 3), -8); // integral exponents work for negative bases
    EXPECT_EQ(RaisePower(2, -2), 0.25);
    EXPECT_EQ(RaisePower(0, -1), std::numeric_limits<double>::infinity());
    EXPECT_NEAR(RaisePower(4, 0.5), 2, 1e-15);
    EXPECT_TRUE(std::isnan(RaisePower(-8, 1.0 / 3)));
    EXPECT_EQ(RaisePower(2, 1e300), std::numeric_limits<double>::infinity());
    EXPECT_EQ(RaisePower(0.5, 1e10), 0);
}

TEST(VectorGeometryFrustum, PlanesOfAKnownProjection) {
    const TFrustum frustum = FrustumFromMatrix(KnownProjection());
    const float h = static_cast<float>(1 / std::sqrt(2.0));
    const TVector expected[6] = {{h, 0, -h, 0}, {0, -h, -h, 0}, {-h, 0, -h, 0},
                                 {0, h, -h, 0}, {0, 0, -1, -1}, {0, 0, 1, 3}};
    for (std::size_t p = 0; p < 6; ++p)
        for (std::size_t i = 0; i < 4; ++i)
            EXPECT_FLOAT_EQ(frustum[p][i], expected[p][i]) << "plane " << p << " component " << i;
}

TEST(VectorGeometryFrustum, SphereAndBoxOutside) {
    const TFrustum frustum = FrustumFromMatrix(KnownProjection());
    EXPECT_FALSE(SphereOutsideFrustum(TAffineVector{0, 0, -2}, 0, frustum));
    EXPECT_FALSE(SphereOutsideFrustum(TAffineVector{0, 0, -1}, 0, frustum)); // on the near plane
    EXPECT_TRUE(SphereOutsideFrustum(TAffineVector{0, 0, -0.5f}, 0.4f, frustum));
    EXPECT_FALSE(SphereOutsideFrustum(TAffineVector{0, 0, -0.5f}, 0.6f, frustum));
    EXPECT_TRUE(SphereOutsideFrustum(TVector{0, 0, -4, 1}, 0.5f, frustum));
    EXPECT_FALSE(SphereOutsideFrustum(TVector{0, 0, -4, 1}, 1.5f, frustum));
    EXPECT_TRUE(SphereOutsideFrustum(TAffineVector{5, 0, -2}, 1, frustum));
    EXPECT_TRUE(SphereOutsideFrustum(TAffineVector{0, -5, -2}, 1, frustum));
    EXPECT_TRUE(BoxOutsideFrustum(TAffineVector{4, -1, -3}, TAffineVector{6, 1, -1}, frustum));
    EXPECT_FALSE(BoxOutsideFrustum(TAffineVector{1, -1, -3}, TAffineVector{3, 1, -1}, frustum));
    // A camera 5 units back on +Z: the origin lies beyond the far plane at distance 3.
    const TFrustum moved =
        FrustumFromMatrix(MultiplyMatrices(Translation(0, 0, -5), KnownProjection()));
    EXPECT_TRUE(SphereOutsideFrustum(NullHmgPoint, 1, moved));
    EXPECT_FALSE(SphereOutsideFrustum(TVector{0, 0, 3, 1}, 0, moved));
}
