#include "mmcif/atom_site_rows.hpp"

#include <algorithm>
#include <cstring>

#include "mmcif/any_case.hpp"

namespace record_scan {

AtomSiteItem classify_data_name(const CifToken& name) {
    const std::string_view text = name.text();
    // A long name has its category in view when it holds a '.' early enough.
    if (!names_atom_site_category(text)) return AtomSiteItem::foreign;
    if (name.is_long()) return AtomSiteItem::other;
    if (equals_any_case(text, "_atom_site.cartn_x")) return AtomSiteItem::cartn_x;
    if (equals_any_case(text, "_atom_site.cartn_y")) return AtomSiteItem::cartn_y;
    if (equals_any_case(text, "_atom_site.cartn_z")) return AtomSiteItem::cartn_z;
    if (equals_any_case(text, "_atom_site.group_pdb")) return AtomSiteItem::group_pdb;
    return AtomSiteItem::other;
}

void AtomSiteLoop::add_name(const CifToken& name) {
    std::size_t column = columns_.names++;
    if (column == 0) atom_site_ = classify_data_name(name) != AtomSiteItem::foreign;
    if (!atom_site_) return;
    auto claim = [column](std::size_t& slot) {
        if (slot == absent) slot = column;  // a repeated name: the first column holds it
    };
    switch (classify_data_name(name)) {
        case AtomSiteItem::cartn_x: claim(columns_.cartn[0]); break;
        case AtomSiteItem::cartn_y: claim(columns_.cartn[1]); break;
        case AtomSiteItem::cartn_z: claim(columns_.cartn[2]); break;
        case AtomSiteItem::group_pdb: claim(columns_.group); break;
        case AtomSiteItem::foreign:
        case AtomSiteItem::other: break;
    }
}

void AtomSiteLoop::begin_rows(OutcomeQueue& out) {
    if (!atom_site_) return;
    const std::size_t* cartn = columns_.cartn;
    if (cartn[0] == absent || cartn[1] == absent || cartn[2] == absent) {
        out.push(ScanOutcome::incomplete);
        return;
    }
    const Wanted roles[] = {{cartn[0], cartn_x}, {cartn[1], cartn_y}, {cartn[2], cartn_z},
                            {columns_.group, group}, {columns_.names - 1, last}};
    std::size_t count = 0;
    for (const Wanted& role : roles) {
        if (role.column == absent) continue;
        auto same = std::find_if(wanted_, wanted_ + count,
                                 [&](const Wanted& w) { return w.column == role.column; });
        if (same != wanted_ + count) same->roles |= role.roles;
        else wanted_[count++] = role;
    }
    std::sort(wanted_, wanted_ + count,
              [](const Wanted& a, const Wanted& b) { return a.column < b.column; });
    reading_rows_ = true;
}

void AtomSiteLoop::end(OutcomeQueue& out) {
    if (reading_rows_ && column_ != 0) out.push(ScanOutcome::incomplete);
    reading_rows_ = false;
}

}  // namespace record_scan
