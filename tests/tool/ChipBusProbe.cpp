// Drives quillo-rtc's bus access on the simulated bench, one word per operation, and prints what
// each gave: "chip NAME" chooses the chip, "r N LEN" reads, "w N XX.." writes, "t N XX.." shows
// the transfer a write would be, "cal" reads the calendar. A Failure ends it with status 1.
#include "tool/ChipBus.h"
#include "tool/RtcFailure.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace Kovan;

namespace {

void print(const char* what, const unsigned char* bytes, size_t length)
{
    printf("%s:", what);
    for (size_t i = 0; i < length; ++i)
        printf(" %02x", bytes[i]);
    printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    try {
        ChipBus bus("/dev/i2c-0", false);
        for (int i = 1; i < argc; ++i) {
            const std::string word = argv[i];
            if ("chip" == word && i + 1 < argc) {
                bus.choose(argv[++i]);
                printf("chip: %s\n", bus.chip().name);
            } else if ("cal" == word) {
                unsigned char fields[CALENDAR_SIZE];
                bus.readCalendar(fields);
                print("cal", fields, CALENDAR_SIZE);
            } else if (("r" == word || "w" == word || "t" == word) && i + 2 < argc) {
                const int number = std::stoi(argv[++i], nullptr, 0);
                const std::string text = argv[++i]; // r: a length; w, t: the bytes in hex
                std::vector<unsigned char> bytes("r" == word ? std::stoul(text) : 0);
                for (size_t k = 0; "r" != word && k + 1 < text.size(); k += 2)
                    bytes.push_back(
                        static_cast<unsigned char>(std::stoul(text.substr(k, 2), nullptr, 16)));
                if ("r" == word) {
                    bus.read(number, bytes.data(), bytes.size());
                    print("r", bytes.data(), bytes.size());
                } else if ("w" == word) {
                    bus.write(number, bytes.data(), bytes.size());
                } else {
                    const ChipBus::Transfer t = bus.transferFor(number, bytes.data(), bytes.size());
                    printf("t: 0x%02x", t.address);
                    print("", t.bytes.data(), t.bytes.size());
                }
            } else {
                (void)fprintf(stderr, "probe: bad word %s\n", argv[i]);
                return 2;
            }
        }
    } catch (const Failure& f) {
        printf("fail: %s\n", f.message.c_str());
        return 1;
    }
    return 0;
}
