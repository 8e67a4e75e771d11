// benchlists: the cost of filling lists one item at a time. Appending 3,000,000 affine vectors
// to a new list is set against appending them to a list that reserved them ahead, in the same
// run; the first must stay within 3 times the second. The same for three lists filled side by
// side, as a mesh import fills positions, normals and texture coordinates. Prints the best of
// several rounds; exits with 1 when a ratio is above 3.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

#include "engine/meshes/VectorLists.h"

namespace {

constexpr int ItemCount = 3000000;
constexpr int Rounds = 7;
constexpr double MaxRatio = 3.0;

double BestSeconds(const std::function<void()>& work) {
    double best = 1e30;
    for (int round = 0; round < Rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    return best;
}

// Appends ItemCount vectors to each of `listCount` new lists, item by item, after reserving them
// when asked to. Returns a value that depends on what was stored.
float Fill(int listCount, bool reserve) {
    TAffineVectorList lists[3];
    if (reserve)
        for (int k = 0; k < listCount; ++k)
            lists[k].EnsureCapacity(ItemCount);
    for (int i = 0; i < ItemCount; ++i)
        for (int k = 0; k < listCount; ++k)
            lists[k].Add(AffineVectorMake(float(i), float(k), 1));
    return lists[0][ItemCount - 1][0] + lists[listCount - 1][ItemCount / 2][1];
}

bool Report(int listCount) {
    volatile float sink = 0;
    const double grown = BestSeconds([&] { sink = sink + Fill(listCount, false); });
    const double reserved = BestSeconds([&] { sink = sink + Fill(listCount, true); });
    const double ratio = grown / reserved;
    std::printf("%d list(s) of %d affine vectors: grown %.1f ms, reserved %.1f ms, ratio %.2f "
                "(at most %.1f)\n",
                listCount, ItemCount, grown * 1e3, reserved * 1e3, ratio, MaxRatio);
    return ratio <= MaxRatio;
}

} // namespace

int main() {
    const bool single = Report(1);
    const bool sideBySide = Report(3);
    return single && sideBySide ? 0 : 1;
}
