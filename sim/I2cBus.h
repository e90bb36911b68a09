// The board's first I2C bus ("/dev/i2c-0") and the chips on it. The bus device answers the
// i2c-dev interface (I2C_SLAVE, then plain read and write transfers to that address; I2C_RDWR's
// combined messages; I2C_SMBUS quick, byte, byte-data, word-data and I2C-block transfers, as the
// kernel emulates them on a plain I2C adapter), hands each transfer to the chip that answers the
// address, logs every transfer, and keeps the chips' state in the state file between runs, as
// their backup battery would. QUILLO_SIM_BUSY names addresses a kernel driver holds: I2C_SLAVE
// on them fails with EBUSY, I2C_SLAVE_FORCE takes them anyway.
#pragma once

#include "sim/BenchSim.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace BenchSim {

// "<chip>.<key>" -> value, as read from the state file.
using ChipState = std::map<std::string, std::string>;

class I2cChip {
public:
    // `name` in lower case, as in QUILLO_SIM_CHIPS and the state file's keys; the chip answers
    // the bus addresses `first` to `last`.
    I2cChip(const char* name, unsigned first, unsigned last)
        : _name(name)
        , _first(first)
        , _last(last)
    {
    }
    virtual ~I2cChip() = default;
    bool answers(unsigned address) const { return address >= _first && address <= _last; }
    // The data phase of one transfer to an address the chip answers: a read fills every byte.
    virtual void read(unsigned address, uint8_t* buffer, size_t length) = 0;
    virtual void write(unsigned address, const uint8_t* data, size_t length) = 0;
    // Restores what the battery kept (keys it does not find keep their power-on values), then
    // applies this run's settings.
    virtual void load(const ChipState& state) = 0;
    // Appends "<chip>.<key> <value>\n" lines.
    virtual void save(std::string* lines) const = 0;

protected:
    // Hands the value of "<chip>.<key>", when the state has one, to `parse`, which returns false
    // (and changes nothing) when it is bad; that is reported.
    template <typename Parse> void loadEntry(const ChipState& state, const char* key, Parse parse)
    {
        auto found = state.find(std::string(_name) + "." + key);
        if (found != state.end() && !parse(found->second))
            warn("state: bad %s \"%s\"", found->first.c_str(), found->second.c_str());
    }
    std::string entry(const char* key, const std::string& value) const
    {
        return std::string(_name) + "." + key + " " + value + "\n";
    }

private:
    const char* _name;
    unsigned _first;
    unsigned _last;
};

I2cChip* makeS35391A();
I2cChip* makeIsl1208();

// Reads a number setting written in C notation (0x.. hex, 0.. octal); false when unset or bad.
bool byteSetting(const char* name, uint8_t* value);
// Parses "0a 1b ..." into exactly `length` bytes; on failure `bytes` is left as it was.
bool parseHex(const std::string& text, uint8_t* bytes, size_t length);

} // namespace BenchSim
