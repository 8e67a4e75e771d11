#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/meshes/VectorLists.h"

namespace {

constexpr float Inf = std::numeric_limits<float>::infinity();
const float NaN = std::numeric_limits<float>::quiet_NaN();
using TVectors = std::vector<TAffineVector>;
using TInts = std::vector<int32_t>;

TAffineVector V(float x, float y, float z) {
    return AffineVectorMake(x, y, z);
}

// Lists filled by their constructors.
class TAffineVectors : public TAffineVectorList {
public:
    TAffineVectors(std::initializer_list<TAffineVector> items) {
        for (const TAffineVector& item : items)
            Add(item);
    }
};

class TIntegers : public TIntegerList {
public:
    TIntegers(std::initializer_list<int32_t> items) {
        for (int32_t item : items)
            Add(item);
    }
};

template <typename L> auto Items(const L& list) {
    return std::vector(list.begin(), list.end());
}

} // namespace

TEST(VectorLists, AppendsGrowCapacityByTheGrowthDelta) {
    struct Case {
        int appends, growthDelta, capacity;
    };
    for (const Case c : {Case{0, 16, 0}, Case{1, 16, 16}, Case{16, 16, 16}, Case{17, 16, 32},
                         Case{33, 16, 48}, Case{7, 5, 10}, Case{3, 0, 3}}) {
        TAffineVectorList list;
        list.SetGrowthDelta(c.growthDelta);
        for (int i = 0; i < c.appends; ++i)
            ASSERT_EQ(list.Add(V(float(i), 0, 0)), i);
        EXPECT_EQ(list.Capacity(), c.capacity) << c.appends << " appends by " << c.growthDelta;
        if (c.appends > 0) {
            EXPECT_EQ(list[c.appends - 1][0], float(c.appends - 1));
        }
    }
    // Several items at once grow in steps from the capacity until they fit.
    TAffineVectorList vectors;
    vectors.SetCount(15);
    vectors.Add(XVector, YVector, ZVector);
    EXPECT_EQ(vectors.Capacity(), 31);
    EXPECT_EQ(Items(vectors).back(), ZVector);
    TIntegerList indices;
    indices.SetGrowthDelta(1);
    indices.Add(4, 5);
    indices.Add(6, 7, 8);
    EXPECT_EQ(Items(indices), (TInts{4, 5, 6, 7, 8}));
    EXPECT_EQ(indices.Capacity(), 5);
}

TEST(VectorLists, AppendingItemsOfTheListItselfSurvivesTheGrowth) {
    TAffineVectorList list;
    for (int i = 0; i < 16; ++i)
        list.Add(V(float(i), 1, 2));
    list.Add(list[3]);
    list.Add(list[0], list[1], list[2]);
    list.AddList(&list);
    ASSERT_EQ(list.Count(), 40);
    EXPECT_EQ(list[16], V(3, 1, 2));
    EXPECT_EQ(list[39], V(2, 1, 2));
}

TEST(VectorLists, CountAndCapacityChanges) {
    TAffineVectorList list;
    list.SetCount(5);
    EXPECT_EQ(list.Capacity(), 5);
    EXPECT_EQ(Items(list), TVectors(5, NullVector));
    list.Put(3, XYZVector);
    list.Flush();
    list.SetCount(4);
    EXPECT_EQ(list.Get(3), NullVector);
    list.Put(3, XYZVector);
    list.Flush();
    list.SetSetCountResetsMemory(false);
    list.SetCount(4);
    EXPECT_EQ(list.Get(3), XYZVector);
    list.Clear();
    EXPECT_EQ(list.Capacity(), 0);
    EXPECT_EQ(list.List(), nullptr);

    TIntegers ints{0, 1, 2, 3, 4, 5};
    ints.EnsureCapacity(8);
    EXPECT_EQ(ints.Capacity(), 16);
    ints.SetCapacity(4);
    ints.Add(9);
    EXPECT_EQ(Items(ints), (TInts{0, 1, 2, 3, 9}));
    EXPECT_EQ(ints.Capacity(), 20);
    ints.AddNulls(17);
    EXPECT_EQ(ints.Count(), 22);
    EXPECT_EQ(ints.Capacity(), 22);
    EXPECT_EQ(ints[21], 0);
    EXPECT_THROW(ints.SetCount(-1), EAssertionFailed);
    EXPECT_THROW(ints.AddNulls(-1), EAssertionFailed);
    EXPECT_THROW(ints.SetCapacity(-1), EAssertionFailed);
}

TEST(VectorLists, ExternalMemoryHoldsTheItemsUntilTheCapacityChanges) {
    std::vector<int32_t> range(4, -1);
    TIntegers list{1, 2};
    list.UseMemory(range.data(), 4 * sizeof(int32_t));
    list.Add(3, 4);
    EXPECT_EQ(range, (TInts{1, 2, 3, 4}));
    list.Add(5);
    EXPECT_FALSE(list.Options().Contains(bloExternalMemory));
    list.Put(0, 7);
    EXPECT_EQ(Items(list), (TInts{7, 2, 3, 4, 5}));
    EXPECT_EQ(range[0], 1);
    int32_t tooSmall[2];
    EXPECT_THROW(list.UseMemory(tooSmall, sizeof tooSmall), EAssertionFailed);
}

TEST(VectorLists, ExchangeAndReverse) {
    for (const auto& [items, reversed] : std::vector<std::pair<TInts, TInts>>{
             {{1, 2, 3, 4, 5}, {5, 4, 3, 2, 1}}, {{1, 2, 3, 4}, {4, 3, 2, 1}}, {{7}, {7}}, {}}) {
        TIntegerList list;
        for (int32_t item : items)
            list.Add(item);
        list.Reverse();
        EXPECT_EQ(Items(list), reversed);
    }
    TAffineVectors vectors{XVector, YVector, ZVector};
    vectors.Exchange(0, 2);
    EXPECT_EQ(Items(vectors), (TVectors{ZVector, YVector, XVector}));
}

TEST(VectorLists, AssignCopiesListsOfTheSameClassAndZeroesOthers) {
    TIntegers source{1, 2, 3};
    source.SetGrowthDelta(4);
    TIntegerList copy;
    copy.SetCount(40);
    copy.Assign(&source);
    EXPECT_EQ(Items(copy), (TInts{1, 2, 3}));
    EXPECT_EQ(copy.Capacity(), 3);
    EXPECT_EQ(copy.GrowthDelta(), 4);

    TSingleList other;
    other.Add(9.5f);
    other.Assign(&source);
    EXPECT_EQ(Items(other), (std::vector<float>{0, 0, 0}));

    copy.Assign(nullptr);
    EXPECT_EQ(copy.Capacity(), 0);
    TPersistentObjectList notAList;
    EXPECT_THROW(copy.Assign(&notAList), EConvertError);
}

TEST(VectorLists, ExtentsOfVectorLists) {
    TAffineVector min, max;
    TAffineVectorList().ComputeExtents(min, max);
    EXPECT_EQ(min, V(Inf, Inf, Inf));
    EXPECT_EQ(max, V(-Inf, -Inf, -Inf));
    TAffineVectors{V(1, -2, 3), V(-4, 5, 0), V(2, 2, 2)}.ComputeExtents(min, max);
    EXPECT_EQ(min, V(-4, -2, 0));
    EXPECT_EQ(max, V(2, 5, 3));
    // A NaN is not comparable: min takes it and gives it up to the next value; max ignores it.
    TAffineVectors{V(1, 1, 1), V(NaN, 0, 0), V(5, 0, 0)}.ComputeExtents(min, max);
    EXPECT_EQ(min[0], 5.0f);
    TAffineVectors{V(1, 1, 1), V(NaN, 0, 0)}.ComputeExtents(min, max);
    EXPECT_TRUE(std::isnan(min[0]));
    EXPECT_EQ(max[0], 1.0f);
}

TEST(VectorLists, SumNormalizeAndTranslateWorkOnXYZ) {
    TAffineVectors vectors{V(3, 0, 4), V(0, 2, 0)};
    EXPECT_EQ(vectors.Sum(), V(3, 2, 4));
    vectors.Normalize();
    EXPECT_FLOAT_EQ(vectors[0][0], 0.6f);
    EXPECT_EQ(vectors[1], YVector);

    TVectorList points;
    points.Add(V(0, 0, 2), 1);
    points.Normalize();
    points.Translate(V(1, 2, 3));
    EXPECT_EQ(points[0], VectorMake(1, 2, 4, 1));
    const TAffineVectors deltas{V(1, 1, 1), V(2, 2, 2)};
    points.Translate(deltas);
    EXPECT_EQ(points[0], VectorMake(2, 3, 5, 1));
    points.TranslateInv(deltas);
    EXPECT_EQ(points[0], VectorMake(1, 2, 4, 1));
    EXPECT_THROW(vectors.Translate(points), EAssertionFailed);
}

TEST(VectorLists, AffineVectorListOperations) {
    TAffineVectorList list;
    list.Add(TexPointMake(0.25f, 0.5f));
    EXPECT_EQ(list[0], V(0.25f, 0.5f, 0));
    const TAffineVectors more{V(0, 0, 0), V(-0.0f, 0, 0), V(0, 0, 0)};
    list.AddList(nullptr);
    list.AddList(&more);
    // Bit patterns, so 0 and -0 differ; the first match wins.
    EXPECT_EQ(list.IndexOf(V(0, 0, 0)), 1);
    EXPECT_EQ(list.FindOrAdd(V(-0.0f, 0, 0)), 2);
    EXPECT_EQ(list.FindOrAdd(V(9, 9, 9)), 4);
    list.Scale(V(2, 3, -1));
    EXPECT_EQ(list[4], V(18, 27, -9));
}

TEST(VectorLists, StripsUnrollIntoTrianglesOfOneWinding) {
    for (const auto& [strip, triangles] :
         std::vector<std::pair<TInts, TInts>>{{{0, 1, 2, 3, 4}, {0, 1, 2, 3, 2, 1, 2, 3, 4}},
                                              {{5, 6, 7}, {5, 6, 7}},
                                              {{5, 6}, {}}}) {
        TIntegerList source, list;
        for (int32_t i : strip)
            source.Add(i);
        ConvertStripToList(source, list);
        EXPECT_EQ(Items(list), triangles);
    }
    // The room for all triangles is taken at once, not in steps of the growth delta.
    TIntegerList longStrip, list;
    longStrip.SetCount(20);
    list.Add(-1);
    ConvertStripToList(longStrip, list);
    EXPECT_EQ(list.Capacity(), 55);

    const TAffineVectors data{V(0, 0, 0), V(1, 0, 0), V(0, 1, 0), V(1, 1, 0)};
    TAffineVectorList unrolled, indexed;
    ConvertStripToList(data, unrolled);
    EXPECT_EQ(Items(unrolled), (TVectors{data[0], data[1], data[2], data[3], data[2], data[1]}));
    ConvertStripToList(data, TIntegers{3, 1, 2, 0}, indexed);
    EXPECT_EQ(Items(indexed), (TVectors{data[3], data[1], data[2], data[0], data[2], data[1]}));
}
