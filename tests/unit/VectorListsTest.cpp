#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/meshes/VectorLists.h"

namespace {

constexpr float Inf = std::numeric_limits<float>::infinity();
const float NaN = std::numeric_limits<float>::quiet_NaN();

TAffineVector V(float x, float y, float z) {
    return AffineVectorMake(x, y, z);
}

// A list filled by its constructor.
class TAffineVectors : public TAffineVectorList {
public:
    TAffineVectors(std::initializer_list<TAffineVector> items) {
        for (const TAffineVector& item : items)
            Add(item);
    }
};

std::vector<int32_t> Items(const TIntegerList& list) {
    return {list.begin(), list.end()};
}

std::vector<TAffineVector> Items(const TAffineVectorList& list) {
    return {list.begin(), list.end()};
}

} // namespace

TEST(VectorLists, AppendsGrowCapacityByTheGrowthDelta) {
    struct Case {
        int appends;
        int32_t growthDelta;
        int32_t capacity;
    };
    for (const Case c : {Case{0, 16, 0}, Case{1, 16, 16}, Case{16, 16, 16}, Case{17, 16, 32},
                         Case{33, 16, 48}, Case{7, 5, 10}, Case{3, 0, 3}}) {
        TAffineVectorList list;
        list.SetGrowthDelta(c.growthDelta);
        for (int i = 0; i < c.appends; ++i)
            EXPECT_EQ(list.Add(V(float(i), 0, 0)), i);
        EXPECT_EQ(list.Count(), c.appends) << c.appends << " appends";
        EXPECT_EQ(list.Capacity(), c.capacity) << c.appends << " appends by " << c.growthDelta;
        for (int i = 0; i < c.appends; ++i)
            ASSERT_EQ(list[i][0], float(i));
    }
}

TEST(VectorLists, AddingSeveralItemsGrowsInStepsUntilTheyFit) {
    TAffineVectorList vectors;
    for (int i = 0; i < 15; ++i)
        vectors.Add(NullVector);
    vectors.Add(XVector, YVector, ZVector);
    EXPECT_EQ(vectors.Count(), 18);
    EXPECT_EQ(vectors.Capacity(), 32);
    EXPECT_EQ(Items(vectors).back(), ZVector);

    TIntegerList indices;
    indices.SetGrowthDelta(1);
    indices.Add(4, 5);
    indices.Add(6, 7, 8);
    EXPECT_EQ(Items(indices), (std::vector<int32_t>{4, 5, 6, 7, 8}));
    EXPECT_EQ(indices.Capacity(), 5);
}

TEST(VectorLists, AppendingAnItemOfTheListItselfSurvivesTheGrowth) {
    TAffineVectorList list;
    for (int i = 0; i < 16; ++i)
        list.Add(V(float(i), 1, 2));
    list.Add(list[3]);
    list.Add(list[0], list[1], list[2]);
    EXPECT_EQ(list[16], V(3, 1, 2));
    EXPECT_EQ(list[19], V(2, 1, 2));
    list.AddList(&list);
    ASSERT_EQ(list.Count(), 40);
    EXPECT_EQ(list[39], V(2, 1, 2));
}

TEST(VectorLists, SetCountZeroFillsNewItemsUnlessSwitchedOff) {
    TAffineVectorList list;
    list.SetCount(5);
    EXPECT_EQ(list.Count(), 5);
    EXPECT_EQ(list.Capacity(), 5);
    EXPECT_EQ(Items(list), std::vector<TAffineVector>(5, NullVector));

    list.Put(3, XYZVector);
    list.Flush();
    EXPECT_EQ(list.Capacity(), 5);
    list.SetCount(4);
    EXPECT_EQ(list.Get(3), NullVector);

    list.Put(3, XYZVector);
    list.Flush();
    list.SetSetCountResetsMemory(false);
    list.SetCount(4);
    EXPECT_EQ(list.Get(3), XYZVector);

    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
    EXPECT_EQ(list.List(), nullptr);
    EXPECT_THROW(list.SetCount(-1), EAssertionFailed);
}

TEST(VectorLists, CapacityChangesKeepTheItemsThatFit) {
    TIntegerList list;
    for (int32_t i = 0; i < 10; ++i)
        list.Add(i);
    list.EnsureCapacity(8);
    EXPECT_EQ(list.Capacity(), 16);
    list.EnsureCapacity(100);
    EXPECT_EQ(list.Capacity(), 100);
    list.SetCapacity(4);
    EXPECT_EQ(list.Capacity(), 4);
    EXPECT_EQ(Items(list), (std::vector<int32_t>{0, 1, 2, 3}));
    list.Add(9);
    EXPECT_EQ(list.Capacity(), 20);
    EXPECT_EQ(Items(list), (std::vector<int32_t>{0, 1, 2, 3, 9}));

    list.AddNulls(3);
    EXPECT_EQ(Items(list), (std::vector<int32_t>{0, 1, 2, 3, 9, 0, 0, 0}));
    list.AddNulls(20);
    EXPECT_EQ(list.Count(), 28);
    EXPECT_EQ(list.Capacity(), 28);
    EXPECT_EQ(list[27], 0);
    EXPECT_THROW(list.AddNulls(-1), EAssertionFailed);
    EXPECT_THROW(list.SetCapacity(-1), EAssertionFailed);
}

TEST(VectorLists, ExternalMemoryHoldsTheItemsUntilTheCapacityChanges) {
    std::vector<int32_t> range(4, -1);
    TIntegerList list;
    list.Add(1, 2);
    list.UseMemory(range.data(), 4 * sizeof(int32_t));
    EXPECT_TRUE(list.Options().Contains(bloExternalMemory));
    EXPECT_EQ(list.Capacity(), 4);
    list.Add(3, 4);
    EXPECT_EQ(range, (std::vector<int32_t>{1, 2, 3, 4}));

    list.Add(5);
    EXPECT_FALSE(list.Options().Contains(bloExternalMemory));
    EXPECT_EQ(list.Capacity(), 20);
    EXPECT_EQ(Items(list), (std::vector<int32_t>{1, 2, 3, 4, 5}));
    list.Put(0, 7);
    EXPECT_EQ(range[0], 1);

    int32_t tooSmall[2];
    EXPECT_THROW(list.UseMemory(tooSmall, sizeof tooSmall), EAssertionFailed);
    EXPECT_EQ(list.Count(), 5);
}

TEST(VectorLists, ExchangeAndReverse) {
    struct Case {
        std::vector<int32_t> items, reversed;
    };
    for (const Case& c : {Case{{1, 2, 3, 4, 5}, {5, 4, 3, 2, 1}}, Case{{1, 2, 3, 4}, {4, 3, 2, 1}},
                          Case{{7}, {7}}, Case{{}, {}}}) {
        TIntegerList list;
        for (int32_t item : c.items)
            list.Add(item);
        list.Reverse();
        EXPECT_EQ(Items(list), c.reversed);
    }

    TAffineVectors vectors{XVector, YVector, ZVector};
    vectors.Exchange(0, 2);
    EXPECT_EQ(Items(vectors), (std::vector<TAffineVector>{ZVector, YVector, XVector}));
    vectors.Exchange(1, 1);
    vectors.Reverse();
    EXPECT_EQ(Items(vectors), (std::vector<TAffineVector>{XVector, YVector, ZVector}));

    TTexPointList points;
    points.Add(1, 2);
    points.Add(3, 4);
    points.Exchange(0, 1);
    EXPECT_EQ(points[0].S, 3);
    EXPECT_EQ(points[1].T, 2);
}

TEST(VectorLists, AssignCopiesListsOfTheSameClassAndZeroesOthers) {
    TIntegerList source;
    source.SetGrowthDelta(4);
    source.Add(1, 2);
    source.Add(3);

    TIntegerList copy;
    for (int32_t i = 0; i < 40; ++i)
        copy.Add(-i);
    copy.Assign(&source);
    EXPECT_EQ(Items(copy), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(copy.Capacity(), 3);
    EXPECT_EQ(copy.GrowthDelta(), 4);

    TSingleList other;
    other.Add(9.5f);
    other.Assign(&source);
    ASSERT_EQ(other.Count(), 3);
    EXPECT_EQ(other[0], 0.0f);
    EXPECT_EQ(other[2], 0.0f);

    copy.Assign(&copy);
    EXPECT_EQ(Items(copy), (std::vector<int32_t>{1, 2, 3}));
    copy.Assign(nullptr);
    EXPECT_EQ(copy.Count(), 0);
    EXPECT_EQ(copy.Capacity(), 0);

    TPersistentObjectList notAList;
    EXPECT_THROW(copy.Assign(&notAList), EConvertError);
}

TEST(VectorLists, ExtentsOfVectorLists) {
    TAffineVector min, max;
    TAffineVectorList empty;
    empty.ComputeExtents(min, max);
    EXPECT_EQ(min, V(Inf, Inf, Inf));
    EXPECT_EQ(max, V(-Inf, -Inf, -Inf));

    TAffineVectors{V(1, -2, 3), V(-4, 5, 0), V(2, 2, 2)}.ComputeExtents(min, max);
    EXPECT_EQ(min, V(-4, -2, 0));
    EXPECT_EQ(max, V(2, 5, 3));

    // A NaN is not comparable, so min takes it and the next value replaces it; max ignores it.
    TAffineVectors{V(1, 1, 1), V(NaN, 0, 0), V(5, 0, 0)}.ComputeExtents(min, max);
    EXPECT_EQ(min[0], 5.0f);
    EXPECT_EQ(max[0], 5.0f);
    TAffineVectors{V(1, 1, 1), V(NaN, 0, 0)}.ComputeExtents(min, max);
    EXPECT_TRUE(std::isnan(min[0]));
    EXPECT_EQ(max[0], 1.0f);

    TVectorList colours;
    colours.Add(VectorMake(1, 2, 3, 100));
    colours.Add(V(-1, 0, 9), -100);
    colours.ComputeExtents(min, max);
    EXPECT_EQ(min, V(-1, 0, 3));
    EXPECT_EQ(max, V(1, 2, 9));
}

TEST(VectorLists, SumNormalizeAndTranslateWorkOnXYZ) {
    TAffineVectors vectors{V(3, 0, 4), V(0, 2, 0)};
    EXPECT_EQ(vectors.Sum(), V(3, 2, 4));
    EXPECT_EQ(TAffineVectorList().Sum(), NullVector);
    vectors.Normalize();
    EXPECT_FLOAT_EQ(vectors[0][0], 0.6f);
    EXPECT_FLOAT_EQ(vectors[0][2], 0.8f);
    EXPECT_EQ(vectors[1], YVector);

    TVectorList points;
    points.Add(VectorMake(0, 0, 2, 1));
    points.Normalize();
    EXPECT_EQ(points[0], VectorMake(0, 0, 1, 1));
    points.Translate(V(1, 2, 3));
    EXPECT_EQ(points[0], VectorMake(1, 2, 4, 1));

    TAffineVectors deltas{V(1, 1, 1), V(2, 2, 2)};
    points.Translate(deltas);
    EXPECT_EQ(points[0], VectorMake(2, 3, 5, 1));
    points.TranslateInv(deltas);
    points.TranslateInv(deltas);
    EXPECT_EQ(points[0], VectorMake(0, 1, 3, 1));
    EXPECT_THROW(deltas.Translate(points), EAssertionFailed);

    TQuaternionList rotations;
    rotations.Add(TQuaternion{V(0, 3, 0), 0.5f});
    rotations.Normalize();
    EXPECT_EQ(rotations[0].ImagPart, YVector);
    EXPECT_EQ(rotations[0].RealPart, 0.5f);
}

TEST(VectorLists, AffineVectorListOperations) {
    TAffineVectorList list;
    list.Add(TexPointMake(0.25f, 0.5f));
    EXPECT_EQ(list[0], V(0.25f, 0.5f, 0));

    const TAffineVectorList none;
    list.AddList(nullptr);
    list.AddList(&none);
    EXPECT_EQ(list.Count(), 1);
    const TAffineVectors more{V(0, 0, 0), V(-0.0f, 0, 0), V(0, 0, 0)};
    list.AddList(&more);
    EXPECT_EQ(list.Count(), 4);

    // Bit patterns, so 0 and -0 differ; the first match wins.
    EXPECT_EQ(list.IndexOf(V(0, 0, 0)), 1);
    EXPECT_EQ(list.IndexOf(V(-0.0f, 0, 0)), 2);
    EXPECT_EQ(list.IndexOf(V(9, 9, 9)), -1);
    EXPECT_EQ(list.FindOrAdd(V(-0.0f, 0, 0)), 2);
    EXPECT_EQ(list.FindOrAdd(V(9, 9, 9)), 4);
    EXPECT_EQ(list.Count(), 5);

    list.Scale(V(2, 3, -1));
    EXPECT_EQ(list[0], V(0.5f, 1.5f, 0));
    EXPECT_EQ(list[4], V(18, 27, -9));
}

TEST(VectorLists, StripsUnrollIntoTrianglesOfOneWinding) {
    struct Case {
        std::vector<int32_t> strip, triangles;
    };
    for (const Case& c : {Case{{0, 1, 2, 3, 4}, {0, 1, 2, 3, 2, 1, 2, 3, 4}},
                          Case{{5, 6, 7}, {5, 6, 7}}, Case{{5, 6}, {}}, Case{{}, {}}}) {
        TIntegerList strip, list;
        for (int32_t i : c.strip)
            strip.Add(i);
        list.Add(-1);
        ConvertStripToList(strip, list);
        std::vector<int32_t> expected{-1};
        expected.insert(expected.end(), c.triangles.begin(), c.triangles.end());
        EXPECT_EQ(Items(list), expected);
    }
    // The room for all triangles is taken at once, not in steps of the growth delta.
    TIntegerList longStrip, list;
    longStrip.SetCount(20);
    list.Add(-1);
    ConvertStripToList(longStrip, list);
    EXPECT_EQ(list.Count(), 55);
    EXPECT_EQ(list.Capacity(), 55);

    const TAffineVectors data{V(0, 0, 0), V(1, 0, 0), V(0, 1, 0), V(1, 1, 0)};
    TAffineVectorList triangles;
    ConvertStripToList(data, triangles);
    EXPECT_EQ(Items(triangles),
              (std::vector<TAffineVector>{data[0], data[1], data[2], data[3], data[2], data[1]}));

    TIntegerList indices;
    indices.Add(3, 1, 2);
    indices.Add(0);
    TAffineVectorList indexed;
    ConvertStripToList(data, indices, indexed);
    EXPECT_EQ(Items(indexed),
              (std::vector<TAffineVector>{data[3], data[1], data[2], data[0], data[2], data[1]}));
}
