// Outcomes of an mmCIF reading waiting to be handed out. Many rows are read
// at once for speed; a fixed array holds them, so nothing is allocated.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "record_scan.hpp"

namespace record_scan {

struct CifOutcome {
    ScanOutcome kind = ScanOutcome::record;
    AtomXyz atom;
};
// Records waiting in the queue are handed out as runs of one axis, each
// value a whole outcome (four floats) after the one before.
inline constexpr std::size_t cif_outcome_floats = 4;
static_assert(sizeof(CifOutcome) == cif_outcome_floats * sizeof(float), "runs step over whole outcomes");

class OutcomeQueue {
public:
    static constexpr std::size_t capacity = 256;

    bool empty() const { return head_ == tail_; }
    // How many more outcomes fit before the queue is next emptied.
    std::size_t room() const { return capacity - tail_; }
    bool full() const { return tail_ == capacity; }

    void push(ScanOutcome kind, const AtomXyz& atom = {}) {
        assert(tail_ < capacity);
        items_[tail_++] = {kind, atom};
    }

    // An outcome given as its bytes (the kind, then X, Y, Z) when `counts`,
    // else nothing, without a branch: the slot is written either way.
    template <class Bytes>
    void put_if(bool counts, const Bytes& outcome) {
        static_assert(sizeof outcome == sizeof(CifOutcome));
        assert(tail_ < capacity);
        std::memcpy(static_cast<void*>(&items_[tail_]), &outcome, sizeof outcome);
        tail_ += counts;
    }

    // Every outcome ever put in: those passed on and those waiting.
    std::uint64_t outcomes_put() const { return passed_on_ + (tail_ - head_); }

    CifOutcome pop() {
        ++passed_on_;
        CifOutcome outcome = items_[head_++];
        if (head_ == tail_) head_ = tail_ = 0;
        return outcome;
    }

    // The records at the front, before any other outcome: how many, the
    // first at `first`. They stay until dropped.
    std::size_t front_records(const CifOutcome*& first) const {
        first = items_ + head_;
        std::size_t count = 0;
        while (head_ + count != tail_ && items_[head_ + count].kind == ScanOutcome::record) ++count;
        return count;
    }

    void drop(std::size_t count) {
        assert(count <= tail_ - head_);
        passed_on_ += count;
        head_ += count;
        if (head_ == tail_) head_ = tail_ = 0;
    }

private:
    CifOutcome items_[capacity];
    std::size_t head_ = 0;
    std::size_t tail_ = 0;
    std::uint64_t passed_on_ = 0;
};

}  // namespace record_scan
