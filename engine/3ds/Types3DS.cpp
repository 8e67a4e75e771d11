#include "engine/3ds/Types3DS.h"

#include <algorithm>

namespace {

// The number of parents in [first, last): what a subtree spanning those nodes gains.
uint32_t ParentsWithin(const std::vector<uint32_t>& parents, uint32_t first, uint64_t last) {
    const auto begin = std::lower_bound(parents.begin(), parents.end(), first);
    const auto end = std::lower_bound(begin, parents.end(), last);
    return static_cast<uint32_t>(end - begin);
}

} // namespace

// A new last child goes right after its parent's subtree. Counts grow first, while the old
// subtrees still say where they end; then the nodes move back from the end of the array, once
// each, opening one slot for every new child.
std::vector<uint32_t> TChunkTree::AppendLastChildren(const std::vector<uint32_t>& parents,
                                                     uint16_t tag,
                                                     const std::vector<uint32_t>& lengths) {
    std::vector<uint32_t> slots;
    slots.reserve(parents.size());
    for (const uint32_t parent : parents) {
        TChunkNode* last = FNodes[parent].Children();
        while (last != nullptr && last->Next() != nullptr)
            last = last->Next();
        if (last != nullptr)
            last->HasNext = true;
        slots.push_back(parent + FNodes[parent].Count);
    }
    for (uint32_t i = 0; i < FNodes.size(); ++i)
        FNodes[i].Count += ParentsWithin(parents, i, uint64_t{i} + FNodes[i].Count);

    size_t from = FNodes.size();
    FNodes.resize(FNodes.size() + parents.size());
    size_t to = FNodes.size();
    std::vector<uint32_t> added(parents.size());
    for (size_t k = parents.size(); k-- > 0;) {
        while (from > slots[k])
            FNodes[--to] = std::move(FNodes[--from]);
        FNodes[--to] = TChunkNode(tag, lengths[k], 0);
        added[k] = static_cast<uint32_t>(to);
    }
    return added;
}
