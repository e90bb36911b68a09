// The one way through the records of a registry file, used by path finding, lookups, adds and
// the scan. A file is data that a power cut may have damaged, so its limits live here and only
// here: a record must lie inside the file and behind the root, a value must end inside it, and
// one walk visits no more records than the file can hold, since no walk of an intact file
// visits a record twice and anything longer is a loop. Each breach is failure code 3.
//
// Another process may be appending while a walk runs: a record is written before the link to it,
// so a link can point past the end of the file as this walk first saw it. Before anything is
// called damaged the walk looks at the file again; only what is still missing then is. A walk
// reads whole runs of records at once into a window of its own and keeps nothing once it ends.
#pragma once

#include "registry/Registry.h"

namespace Kovan {

class Registry::Walk {
public:
    explicit Walk(Registry& registry);
    Walk(const Walk&) = delete;
    Walk& operator=(const Walk&) = delete;

    // The record at `offset`, not counted against the budget (roots and path items are
    // reached once per walk).
    void load(uint32 offset, Item* item);
    // A record reached through a link, taken from the budget. No link of an intact file points
    // into the header or the root: a write through one would wreck what opens the file.
    void follow(uint32 offset, Item* item);
    // The first child of the key record `item` read at `offset`: a legacy root's child field
    // holds a format mark, and its first child sits right behind it.
    uint32 firstChild(const Item& item, uint32 offset);
    // Whether the `size` value bytes behind the record at `offset` end inside the file.
    bool holdsValue(uint32 offset, uint32 size);
    // Copies `size` bytes from `offset`; false unless all of them are in the file.
    bool read(uint32 offset, void* data, uint32 size);

private:
    // Enough for the records of a few hundred small values: one read serves a whole lookup.
    static constexpr uint32 WINDOW_SIZE = 4096;

    bool inWindow(uint64 offset, uint64 size) const;
    // Brings the `size` bytes at `offset` into the window; false when the file ends before.
    bool fetch(uint32 offset, uint32 size);
    // Whether the file reaches `end`, looking at its size again when needed.
    bool reaches(uint64 end);

    Registry& _registry;
    // The largest file size this walk has seen; the file may be larger by now.
    uint32 _seen;
    uint32 _visited;
    uint32 _windowStart;
    uint32 _windowLength;
    uint8 _window[WINDOW_SIZE];
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
        _offset = _next;
        _walk.follow(_offset, &_item);
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
