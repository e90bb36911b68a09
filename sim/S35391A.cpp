// The S35391A: one command per bus address, 0x58 to 0x5F, and every byte shifted out least
// significant bit first, so the bus carries each register bit-reversed.
//
//   0x58  status register 1 (1 byte): 0x80 power-on detected, 0x40 battery low, 0x02 24-hour
//         mode, 0x01 reset (write only: calendar back to 2000-01-01 00:00:00, weekday 0, and the
//         status cleared, 12-hour mode included); only 0x0E is otherwise writable
//   0x59  status register 2 (1 byte, kept as written)
//   0x5A  calendar (7 bytes): year, month, day, weekday, hour, minute, second, packed BCD
//   0x5B  time (3 bytes): hour, minute, second
//   0x5C-0x5F  alarm and correction registers (3, 3, 1, 1 bytes, kept as written)
//
// The hour byte carries 0x40 for the afternoon. In 24-hour mode it holds 0 to 23 and the flag is
// ignored on writing; in 12-hour mode it holds 0 to 11 and the flag says which half of the day.
// Bytes read past a register's end come back as 0xFF (the idle bus); a calendar or time write
// shorter than its register is ignored.
#include "sim/BenchSim.h"
#include "sim/ChipCalendar.h"
#include "sim/I2cBus.h"

#include <cstring>

namespace BenchSim {

namespace {

constexpr unsigned STATUS1 = 0x58;
constexpr unsigned STATUS2 = 0x59;
constexpr unsigned CALENDAR = 0x5A;
constexpr unsigned TIME = 0x5B;
constexpr unsigned LAST = 0x5F;

constexpr uint8_t POWER_ON = 0x80;
constexpr uint8_t MODE_24 = 0x02;
constexpr uint8_t RESET = 0x01;
constexpr uint8_t WRITABLE = 0x0E;
constexpr uint8_t PM = 0x40;

// The alarm and correction registers 0x5C-0x5F, one after the other.
constexpr size_t SPARE_SIZE[4] = { 3, 3, 1, 1 };
constexpr size_t SPARE_AT[4] = { 0, 3, 6, 7 };

uint8_t reversed(uint8_t byte)
{
    uint8_t out = 0;
    for (int i = 0; i < 8; ++i, byte >>= 1)
        out = static_cast<uint8_t>((out << 1) | (byte & 1));
    return out;
}

class S35391A : public I2cChip {
public:
    S35391A()
        : I2cChip("s35391a", STATUS1, LAST)
    {
    }
    void read(unsigned address, uint8_t* buffer, size_t length) override;
    void write(unsigned address, const uint8_t* data, size_t length) override;
    void load(const ChipState& state) override;
    void save(std::string* lines) const override;

private:
    uint8_t hourOut(uint8_t hour) const;
    uint8_t hourIn(uint8_t byte) const;

    // A chip that has never had power: it reports the power-on and counts from 2000.
    uint8_t _status[2] = { POWER_ON, 0 }; // status registers 1 and 2
    uint8_t _spare[8] = {};
    ChipCalendar _calendar;
};

uint8_t S35391A::hourOut(uint8_t hour) const
{
    if (!isBcd(hour))
        return hour;
    const int h = fromBcd(hour);
    const uint8_t flag = h >= 12 ? PM : 0;
    return static_cast<uint8_t>(((_status[0] & MODE_24) ? toBcd(h) : toBcd(h % 12)) | flag);
}

uint8_t S35391A::hourIn(uint8_t byte) const
{
    const uint8_t hour = byte & 0x3F;
    if ((_status[0] & MODE_24) || !isBcd(hour) || fromBcd(hour) > 11)
        return hour;
    return toBcd(fromBcd(hour) + ((byte & PM) ? 12 : 0));
}

void S35391A::read(unsigned address, uint8_t* buffer, size_t length)
{
    uint8_t logical[7];
    size_t size = 0;
    if (STATUS1 == address || STATUS2 == address) {
        logical[0] = _status[address - STATUS1];
        size = 1;
    } else if (CALENDAR == address || TIME == address) {
        const ChipCalendar::Registers r = _calendar.at(hostNow());
        const uint8_t all[7]
            = { r.year, r.month, r.day, r.weekday, hourOut(r.hour), r.minute, r.second };
        size = CALENDAR == address ? 7 : 3;
        memcpy(logical, all + 7 - size, size);
    } else {
        size = SPARE_SIZE[address - TIME - 1];
        memcpy(logical, _spare + SPARE_AT[address - TIME - 1], size);
    }
    for (size_t i = 0; i < length; ++i)
        buffer[i] = i < size ? reversed(logical[i]) : 0xFF;
}

void S35391A::write(unsigned address, const uint8_t* data, size_t length)
{
    if (0 == length)
        return;
    uint8_t logical[8] = {};
    for (size_t i = 0; i < length && i < sizeof logical; ++i)
        logical[i] = reversed(data[i]);
    const double now = hostNow();
    if (STATUS1 == address) {
        if (logical[0] & RESET) {
            _status[0] = 0;
            _calendar.reset(now);
        } else {
            _status[0] = static_cast<uint8_t>((_status[0] & ~WRITABLE) | (logical[0] & WRITABLE));
        }
    } else if (STATUS2 == address) {
        _status[1] = logical[0];
    } else if (CALENDAR == address) {
        if (length < 7)
            return;
        ChipCalendar::Registers r;
        r.year = logical[0];
        r.month = logical[1];
        r.day = logical[2];
        r.weekday = logical[3];
        r.hour = hourIn(logical[4]);
        r.minute = logical[5];
        r.second = logical[6];
        _calendar.set(r, now);
    } else if (TIME == address) {
        if (length < 3)
            return;
        ChipCalendar::Registers r = _calendar.at(now);
        r.hour = hourIn(logical[0]);
        r.minute = logical[1];
        r.second = logical[2];
        _calendar.set(r, now);
    } else {
        const unsigned index = address - TIME - 1;
        for (size_t i = 0; i < length && i < SPARE_SIZE[index]; ++i)
            _spare[SPARE_AT[index] + i] = logical[i];
    }
}

void S35391A::load(const ChipState& state)
{
    loadEntry(
        state, "status", [this](const std::string& text) { return parseHex(text, _status, 2); });
    loadEntry(state, "calendar", [this](const std::string& text) { return _calendar.load(text); });
    loadEntry(state, "registers",
        [this](const std::string& text) { return parseHex(text, _spare, sizeof _spare); });
    // This run's power-on state, as the tool will read it.
    byteSetting("S35391A_STATUS", &_status[0]);
}

void S35391A::save(std::string* lines) const
{
    *lines += entry("status", hexBytes(_status, 2));
    *lines += entry("calendar", _calendar.save());
    *lines += entry("registers", hexBytes(_spare, sizeof _spare));
}

} // namespace

I2cChip* makeS35391A() { return new S35391A; }

} // namespace BenchSim
