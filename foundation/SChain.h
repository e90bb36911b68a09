// An intrusive singly linked chain: elements link themselves through their own `_nextNode`, so
// the chain allocates nothing and never owns or deletes what it holds.
//
// Thread safety: none of its own; the owner of a chain serialises every use (the thread chain
// under its mutex).
#pragma once

#include "foundation/Trace.h"
#include "foundation/Types.h"

namespace Kovan {

template <class T> class SChain {
public:
    // constexpr: the process-wide chains (threads, profilers) are complete before any code runs.
    constexpr SChain() noexcept
        : _first(nullptr)
        , _last(nullptr)
        , _count(0)
    {
    }
    ~SChain() { removeAll(); }
    SChain(const SChain&) = delete;
    SChain& operator=(const SChain&) = delete;

    uint32 count() const { return _count; }
    bool isEmpty() const { return 0 == _count; }
    T* first() const { return _first; }
    T* last() const { return _last; }

    bool contains(const T* t) const
    {
        for (const T* p = _first; p; p = p->_nextNode) {
            if (p == t)
                return true;
        }
        return false;
    }

    // Does not check whether `t` is already in a chain.
    void addToLast(T* t)
    {
        t->_nextNode = nullptr;
        if (_last)
            _last->_nextNode = t;
        else
            _first = t;
        _last = t;
        ++_count;
    }

    void addToFirst(T* t)
    {
        t->_nextNode = _first;
        _first = t;
        if (!_last)
            _last = t;
        ++_count;
    }

    // Links `t` in front of `before`, which must be in this chain.
    void insertBefore(T* t, T* before)
    {
        if (before == _first) {
            addToFirst(t);
            return;
        }
        T* prev = _first;
        while (prev && prev->_nextNode != before)
            prev = prev->_nextNode;
        KOVAN_CHECK(0 != prev);
        t->_nextNode = before;
        prev->_nextNode = t;
        ++_count;
    }

    // Links `t` behind `after`, which must be in this chain.
    void insertAfter(T* t, T* after)
    {
        KOVAN_CHECK(contains(after));
        t->_nextNode = after->_nextNode;
        after->_nextNode = t;
        if (after == _last)
            _last = t;
        ++_count;
    }

    // The removed element keeps its own link.
    void remove(T* t)
    {
        T* prev = nullptr;
        T* p = _first;
        while (p && p != t) {
            prev = p;
            p = p->_nextNode;
        }
        if (!p)
            t = nullptr;
        KOVAN_CHECK(0 != t);
        if (t == _first)
            _first = t->_nextNode;
        else
            prev->_nextNode = t->_nextNode;
        if (t == _last)
            _last = prev;
        --_count;
    }

    // The elements' own links are left as they are.
    void removeAll()
    {
        _first = nullptr;
        _last = nullptr;
        _count = 0;
    }

private:
    T* _first;
    T* _last;
    uint32 _count;
};

} // namespace Kovan
