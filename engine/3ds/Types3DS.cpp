#include "engine/3ds/Types3DS.h"

// Flattens the tree into one sibling chain as it goes: each node's children are spliced in
// front of its next sibling before the node is freed, so no node is ever freed with links left
// and neither recursion nor allocation is needed. Each child chain is walked once, to its tail.
TChunkNode::~TChunkNode() {
    std::unique_ptr<TChunkNode> rest = std::move(Children);
    if (rest) {
        TChunkNode* tail = rest.get();
        while (tail->Next)
            tail = tail->Next.get();
        tail->Next = std::move(Next);
    } else {
        rest = std::move(Next);
    }
    while (rest) {
        if (rest->Children) {
            std::unique_ptr<TChunkNode> children = std::move(rest->Children);
            TChunkNode* tail = children.get();
            while (tail->Next)
                tail = tail->Next.get();
            tail->Next = std::move(rest->Next);
            rest->Next = std::move(children);
        }
        rest = std::move(rest->Next);
    }
}
