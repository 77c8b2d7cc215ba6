#include "mmcif/atom_site_reading.hpp"

namespace record_scan {

void AtomSiteReading::take(const CifToken& token) {
    const bool is_value = token.kind == CifTokenKind::value;
    switch (state_) {
        case State::after_name:
            state_ = State::outside;
            if (is_value) {
                take_pair_value(token);
                return;
            }
            break;  // a data name without its value is passed over
        case State::loop_names:
            if (token.kind == CifTokenKind::data_name) {
                loop_.add_name(token);
                return;
            }
            if (is_value) {
                state_ = State::loop_values;
                loop_.begin_rows(out_);
                if (loop_.reading_rows()) loop_.take_value(CifValue::of(token), out_);
                return;
            }
            state_ = State::outside;  // a loop without rows
            break;
        case State::loop_values:
            if (is_value) {
                if (loop_.reading_rows()) loop_.take_value(CifValue::of(token), out_);
                return;
            }
            end_loop();
            break;
        case State::outside: break;
    }
    take_outside(token);
}

void AtomSiteReading::take_outside(const CifToken& token) {
    switch (token.kind) {
        case CifTokenKind::data_name:
            pending_name_ = classify_data_name(token);
            state_ = State::after_name;
            break;
        case CifTokenKind::loop:
            loop_ = AtomSiteLoop{};
            state_ = State::loop_names;
            break;
        case CifTokenKind::data_block: end_block(); break;
        case CifTokenKind::value:  // a value without a name: nothing to read
        case CifTokenKind::save_frame:
        case CifTokenKind::global:
        case CifTokenKind::stop: break;
    }
}

void AtomSiteReading::take_pair_value(const CifToken& token) {
    if (pending_name_ == AtomSiteItem::foreign) return;
    single_.present = true;
    unsigned item_bit = 0;
    switch (pending_name_) {
        case AtomSiteItem::cartn_x: item_bit = 1; break;
        case AtomSiteItem::cartn_y: item_bit = 2; break;
        case AtomSiteItem::cartn_z: item_bit = 4; break;
        case AtomSiteItem::group_pdb: item_bit = 8; break;
        case AtomSiteItem::foreign:
        case AtomSiteItem::other: return;
    }
    // A name given twice: its first value holds, as the first of repeated
    // names holds a loop's column.
    if ((single_.names & item_bit) != 0) return;
    single_.names |= item_bit;
    const CifValue value = CifValue::of(token);
    if (item_bit == 8) {
        single_.group_is_atom = is_atom_group(value);
        return;
    }
    const int axis = item_bit == 1 ? 0 : item_bit == 2 ? 1 : 2;
    if (read_coordinate(value, single_.xyz[axis])) single_.numbers |= item_bit;
}

void AtomSiteReading::end_loop() {
    loop_.end(out_);
    state_ = State::outside;
}

// The single row is whole only when its block ends.
void AtomSiteReading::end_block() {
    if (single_.present) {
        if ((single_.names & 7u) != 7u)
            out_.push(ScanOutcome::incomplete);
        else
            judge_row((single_.names & 8u) == 0 || single_.group_is_atom, single_.numbers, single_.xyz, out_);
    }
    single_ = SingleRow{};
}

void AtomSiteReading::end_of_input() {
    // The input cannot end between a name and its value.
    if (state_ == State::after_name && pending_name_ != AtomSiteItem::foreign)
        out_.push(ScanOutcome::incomplete);
    if (state_ == State::loop_values) end_loop();
    state_ = State::outside;
    end_block();
}

}  // namespace record_scan
