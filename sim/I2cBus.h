// The board's first I2C bus ("/dev/i2c-0") and the chips on it. The bus device answers the
// i2c-dev interface (I2C_SLAVE, then plain read and write transfers to that address), hands each
// transfer to the chip that answers the address, logs every transfer, and keeps the chips' state
// in the state file between runs, as their backup battery would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace BenchSim {

// "<chip>.<key>" -> value, as read from the state file.
using ChipState = std::map<std::string, std::string>;

class I2cChip {
public:
    virtual ~I2cChip() = default;
    // Lower case, as in QUILLO_SIM_CHIPS and the state file's keys.
    virtual const char* name() const = 0;
    virtual bool answers(unsigned address) const = 0;
    // The data phase of one transfer to an address the chip answers: a read fills every byte.
    virtual void read(unsigned address, uint8_t* buffer, size_t length) = 0;
    virtual void write(unsigned address, const uint8_t* data, size_t length) = 0;
    // Restores what the battery kept (keys it does not find keep their power-on values), then
    // applies this run's settings.
    virtual void load(const ChipState& state) = 0;
    // Appends "<chip>.<key> <value>\n" lines.
    virtual void save(std::string* lines) const = 0;
};

I2cChip* makeS35391A();
I2cChip* makeIsl1208();

// Reads a number setting written in C notation (0x.. hex, 0.. octal); false when unset or bad.
bool byteSetting(const char* name, uint8_t* value);
// Parses "0a 1b ..." into exactly `length` bytes.
bool parseHex(const std::string& text, uint8_t* bytes, size_t length);

} // namespace BenchSim
