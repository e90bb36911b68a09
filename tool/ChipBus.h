// quillo-rtc's way to the chip: the i2c-dev bus device with every transfer checked, the chip
// chosen by name or by who answers, and registers read and written by number in the chip's own
// bit order (the S35391A's reversal happens here, at the bus, and nowhere else). A transfer that
// fails ends the command with a Failure that says what to check.
#pragma once

#include "tool/ChipModel.h"

#include <cstddef>
#include <string>
#include <vector>

namespace Kovan {

class ChipBus {
public:
    // Opens `device`; with `force`, addresses a kernel driver holds are used anyway.
    ChipBus(const std::string& device, bool force);
    ~ChipBus();
    ChipBus(const ChipBus&) = delete;
    ChipBus& operator=(const ChipBus&) = delete;

    // 0 when `chip` answers a one-byte read at its probe address (no write), else the errno
    // (EBUSY: a kernel driver holds the address).
    int probe(const ChipModel& chip);
    // Every supported chip that answers, in the table's order, and in `held` those a kernel
    // driver holds. When none answers it fails, naming a held one if there is one.
    std::vector<const ChipModel*> answering(std::vector<const ChipModel*>* held = nullptr);
    // The chip `name` names, which must answer, or with "auto" the one chip that answers.
    void choose(const std::string& name);
    const ChipModel& chip() const { return *_chip; }
    const std::string& device() const { return _device; }

    // Where a write of `data` to register `number` goes, and the bytes as they cross the bus (the
    // register number first on a chip with a pointer).
    struct Transfer {
        int address;
        std::vector<unsigned char> bytes;
    };
    Transfer transferFor(int number, const unsigned char* data, size_t length) const;

    // Bytes from register `number` on: on a chip with a pointer, `length` consecutive registers
    // (the pointer write changes no register); without one, the register's own bytes.
    void read(int number, unsigned char* buffer, size_t length);
    unsigned char readByte(int number);
    void write(int number, const unsigned char* data, size_t length);
    void writeByte(const RegisterWrite& w);
    bool flagSet(const ChipFlag& flag);

    // The calendar fields in BCD with the hour as 0-23, whatever the chip's hour mode.
    void readCalendar(unsigned char* fields);
    // The calendar block (chip order, from the calendar register on) that writes `fields` in the
    // chip's present hour mode.
    std::vector<unsigned char> calendarBlock(const unsigned char* fields);
    // After a reset the hour mode is read again.
    void forgetHourMode() { _hour24 = -1; }

private:
    [[noreturn]] void busy(const ChipModel& chip) const;
    bool trySelect(int address);
    void select(int address);
    void readFrom(int address, unsigned char* buffer, size_t length);
    void writeTo(int address, const unsigned char* data, size_t length);
    bool hour24();
    [[noreturn]] void notAnswering() const;
    [[noreturn]] void transferFailed(const char* what, int address, int error) const;

    std::string _device;
    bool _force;
    int _fd = -1;
    int _selected = -1;
    const ChipModel* _chip = nullptr;
    int _hour24 = -1; // unknown until asked
};

} // namespace Kovan
