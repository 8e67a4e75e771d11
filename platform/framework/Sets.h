// TSet: a small bit-set over an enumeration whose values are below 64.
#pragma once

#include <cstdint>
#include <initializer_list>

template <typename E> class TSet {
public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> members) {
        for (E member : members)
            FBits |= Bit(member);
    }

    constexpr bool Contains(E member) const { return (FBits & Bit(member)) != 0; }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr TSet& Include(E member) {
        FBits |= Bit(member);
        return *this;
    }
    constexpr TSet& Exclude(E member) {
        FBits &= ~Bit(member);
        return *this;
    }
    constexpr TSet operator+(TSet other) const { return FromBits(FBits | other.FBits); }
    constexpr TSet operator-(TSet other) const { return FromBits(FBits & ~other.FBits); }
    constexpr TSet operator*(TSet other) const { return FromBits(FBits & other.FBits); }
    constexpr bool operator==(const TSet&) const = default;
    constexpr uint64_t Bits() const { return FBits; }
    static constexpr TSet FromBits(uint64_t bits) {
        TSet set;
        set.FBits = bits;
        return set;
    }

private:
    static constexpr uint64_t Bit(E member) { return uint64_t{1} << static_cast<unsigned>(member); }
    uint64_t FBits = 0;
};
