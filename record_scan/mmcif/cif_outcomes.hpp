// Outcomes of an mmCIF reading waiting to be handed out. Many rows are read
// at once for speed; a fixed array holds them, so nothing is allocated.
#pragma once

#include <cassert>
#include <cstddef>

#include "record_scan.hpp"

namespace record_scan {

struct CifOutcome {
    ScanOutcome kind = ScanOutcome::record;
    AtomXyz atom;
};

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

    CifOutcome pop() {
        CifOutcome outcome = items_[head_++];
        if (head_ == tail_) head_ = tail_ = 0;
        return outcome;
    }

private:
    CifOutcome items_[capacity];
    std::size_t head_ = 0;
    std::size_t tail_ = 0;
};

}  // namespace record_scan
