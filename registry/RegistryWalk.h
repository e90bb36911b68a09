// The one way through the records of a registry file, used by path finding, lookups, adds and
// the scan. A file is data that a power cut may have damaged, so its limits live here and only
// here: a record must lie inside the file, a value must end inside it, and one walk visits no
// more records than the file can hold, since no walk of an intact file visits a record twice and
// anything longer is a loop. Each breach is failure code 3.
#pragma once

#include "registry/Registry.h"

namespace Kovan {

// The file as one walk sees it, and the walk's budget of records.
class Registry::Walk {
public:
    explicit Walk(Registry& registry);

    // The record at `offset`, not counted against the budget (roots and path items are
    // reached once per walk).
    void load(uint32 offset, Item* item);
    // Takes one record from the budget.
    void count();
    // The first child of the key record `item` read at `offset`: a legacy root's child field
    // holds a format mark, and its first child sits right behind it.
    uint32 firstChild(const Item& item, uint32 offset) const;
    // Whether the `size` value bytes behind the record at `offset` end inside the file.
    bool holdsValue(uint32 offset, uint32 size) const;

private:
    Registry& _registry;
    uint32 _size;
    uint32 _budget;
};

// One list of siblings, from a first record along the `next` links, counted against the walk.
//
//     Siblings s(walk, key.child);
//     while (s.next())
//         use(s.item(), s.offset());
class Registry::Siblings {
public:
    // `first` 0 is an empty list.
    Siblings(Walk& walk, uint32 first)
        : _walk(walk)
        , _item {}
        , _offset(0)
        , _next(first)
    {
    }

    // Loads the next sibling; false after the last.
    bool next()
    {
        if (0 == _next)
            return false;
        _walk.count();
        _offset = _next;
        _walk.load(_offset, &_item);
        _next = _item.next;
        return true;
    }

    // Leaves this list for the one that starts at `first` (a key's children).
    void enter(uint32 first) { _next = first; }

    const Item& item() const { return _item; }
    uint32 offset() const { return _offset; }

private:
    Walk& _walk;
    Item _item;
    uint32 _offset;
    uint32 _next;
};

} // namespace Kovan
