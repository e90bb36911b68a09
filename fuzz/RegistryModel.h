// A second reader of the registry file format, written from the format's description and
// sharing no code with the library: the header, the 12-byte records, the tree of `next` and
// `child` links, lookups along a path (first id match, keys only on the path) and the Adler-32
// checksum. It calls a file intact when every record reachable from the root lies inside the
// file, none overlaps another or the header, values end inside the file and keys nest no deeper
// than paths reach; only on such files must the library give exactly its answers.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace KovanFuzz {

class RegistryModel {
public:
    struct Entry {
        int depth;
        uint16_t id;
        uint16_t type;
        uint32_t size;
        std::string prefix; // at most the first 16 value bytes
        bool operator==(const Entry& o) const
        {
            return depth == o.depth && id == o.id && type == o.type && size == o.size
                && prefix == o.prefix;
        }
    };

    explicit RegistryModel(std::vector<uint8_t> file)
        : _f(std::move(file))
        , _taken(_f.size(), false)
    {
        if (_f.size() < 16)
            return;
        if (0x34299100 == le32(0)) {
            if (_f.size() < 48)
                return;
            version = le32(4);
            stored = le32(44);
            _root = 48;
            take(0, 48);
        } else if (le32(8) < 1 || le32(8) > 4) {
            return;
        } else {
            legacy = true;
        }
        opens = true;
        if (!take(_root, 12)) {
            intact = false;
            return;
        }
        entries.push_back({ 0, le16(_root), 0, 0, "" });
        walk(firstChild(), 1);
    }

    // The code a get of `size` bytes (moving `wanted`, 0 for all) at `path` gives, and the bytes.
    int lookup(const std::vector<uint32_t>& path, uint32_t id, uint32_t size, uint32_t wanted,
        std::string* value) const
    {
        uint32_t first = firstChild();
        for (uint32_t step : path) {
            uint32_t at = find(first, step);
            if (0 == at || 0 != le16(at + 2))
                return 5;
            first = le32(at + 8);
        }
        const uint32_t at = find(first, id);
        if (0 == at)
            return 6;
        if (le32(at + 8) != size)
            return 7;
        // A key's child offset can pass for a size; its "value" must still be in the file.
        if (uint64_t(at) + 12 + size > _f.size())
            return 3;
        const uint32_t n = wanted ? wanted : size;
        if (n > size)
            return 8;
        value->assign(reinterpret_cast<const char*>(&_f[at + 12]), n);
        return 0;
    }

    // The code getInfo of `id` at `path` gives, with the item's type and size (0 for a key).
    int info(const std::vector<uint32_t>& path, uint32_t id, uint32_t* type, uint32_t* size) const
    {
        uint32_t first = firstChild();
        for (uint32_t step : path) {
            uint32_t at = find(first, step);
            if (0 == at || 0 != le16(at + 2))
                return 5;
            first = le32(at + 8);
        }
        const uint32_t at = find(first, id);
        if (0 == at)
            return 6;
        *type = le16(at + 2);
        *size = 0 == *type ? 0 : le32(at + 8);
        return uint64_t(at) + 12 + *size > _f.size() ? 3 : 0;
    }

    uint32_t adler32() const
    {
        uint32_t a = 1, b = 0;
        for (size_t i = 48; i < _f.size(); ++i) {
            a = (a + _f[i]) % 65521;
            b = (b + a) % 65521;
        }
        return b << 16 | a;
    }

    bool opens = false;
    bool legacy = false;
    bool intact = true;
    uint32_t version = 1;
    uint32_t stored = 0;
    std::vector<Entry> entries; // the tree in pre-order, root first

private:
    uint32_t le32(size_t at) const
    {
        return uint32_t(_f[at]) | uint32_t(_f[at + 1]) << 8 | uint32_t(_f[at + 2]) << 16
            | uint32_t(_f[at + 3]) << 24;
    }
    uint16_t le16(size_t at) const { return uint16_t(_f[at] | _f[at + 1] << 8); }

    // A legacy root's child field is a format mark; its first child sits right behind it.
    uint32_t firstChild() const
    {
        if (48 == _root)
            return le32(_root + 8);
        return _f.size() >= 24 ? 12 : 0;
    }

    uint32_t find(uint32_t at, uint32_t id) const
    {
        for (; 0 != at; at = le32(at + 4)) {
            if (le16(at) == id)
                return at;
        }
        return 0;
    }

    // Marks the bytes as belonging to one record; false when they are outside or taken.
    bool take(uint64_t at, uint64_t n)
    {
        if (at + n > _f.size())
            return false;
        for (uint64_t i = at; i < at + n; ++i) {
            if (_taken[i])
                return false;
            _taken[i] = true;
        }
        return true;
    }

    void walk(uint32_t at, int depth)
    {
        for (; 0 != at && intact; at = le32(at + 4)) {
            if (!take(at, 12)) {
                intact = false;
                return;
            }
            const uint16_t type = le16(at + 2);
            const uint32_t link = le32(at + 8);
            if (0 == type) {
                entries.push_back({ depth, le16(at), 0, 0, "" });
                if (0 != link && depth >= 16)
                    intact = false;
                walk(link, depth + 1);
            } else {
                if (!take(uint64_t(at) + 12, link)) {
                    intact = false;
                    return;
                }
                const size_t n = link < 16 ? link : 16;
                entries.push_back({ depth, le16(at), type, link,
                    std::string(reinterpret_cast<const char*>(&_f[at + 12]), n) });
            }
        }
    }

    std::vector<uint8_t> _f;
    std::vector<bool> _taken;
    uint32_t _root = 0;
};

} // namespace KovanFuzz
