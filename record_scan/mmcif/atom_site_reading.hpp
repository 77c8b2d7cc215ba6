// The atoms of an mmCIF text, token by token: the rows of _atom_site loops
// and the single row that _atom_site name-value pairs make, in every data
// block, in order. The values of other categories are passed over.
#pragma once

#include "mmcif/atom_site_rows.hpp"
#include "mmcif/cif_outcomes.hpp"
#include "mmcif/cif_tokenizer.hpp"

namespace record_scan {

class AtomSiteReading {
public:
    explicit AtomSiteReading(OutcomeQueue& out) : out_(out) {}

    void take(const CifToken& token);
    // The end of the input ends the last loop and data block.
    void end_of_input();

    // Inside the values of a loop, where the fast line reading may take over.
    bool in_loop_values() const { return state_ == State::loop_values; }
    // No value can matter here, nor any data name but those of _atom_site:
    // outside a loop, or after a data name of another category (whose
    // value, like one without a name, is passed over).
    bool passes_values() const {
        return state_ == State::outside || (state_ == State::after_name && pending_name_ == AtomSiteItem::foreign);
    }
    // Among the names of a loop of another category: only the next token
    // that is no name can matter.
    bool passes_names() const {
        return state_ == State::loop_names && loop_.names() != 0 && !loop_.is_atom_site();
    }
    // The loop whose rows are read there; none when the loop is passed over.
    AtomSiteLoop* rows_read() { return loop_.reading_rows() ? &loop_ : nullptr; }

private:
    enum class State : unsigned char { outside, after_name, loop_names, loop_values };

    // The _atom_site items written as name-value pairs in the current data block.
    struct SingleRow {
        bool present = false;
        unsigned names = 0;    // bit 0-2: Cartn_x, _y, _z given; bit 3: group_PDB given
        unsigned numbers = 0;  // bit 0-2: that coordinate is a number
        float xyz[3] = {0, 0, 0};
        bool group_is_atom = false;
    };

    void take_outside(const CifToken& token);
    void take_pair_value(const CifToken& value);
    void end_loop();
    void end_block();

    OutcomeQueue& out_;
    State state_ = State::outside;
    AtomSiteItem pending_name_ = AtomSiteItem::foreign;
    AtomSiteLoop loop_;
    SingleRow single_;
};

}  // namespace record_scan
