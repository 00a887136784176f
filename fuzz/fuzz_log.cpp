// The time stamp and the error record for any valid date and any description.

#include "fuzz/fuzz_input.h"
#include "log/error_log.h"

#include <cstdio>
#include <ctime>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace movarin::log;
    if (size < 8)
        return 0;
    std::tm when{};
    when.tm_year = (data[0] | (data[1] << 8)) % 10000 - 1900;
    when.tm_mon = data[2] % 12;
    when.tm_mday = 1 + data[3] % 31;
    when.tm_hour = data[4] % 24;
    when.tm_min = data[5] % 60;
    when.tm_sec = data[6] % 61; // a leap second is a valid 60
    const auto procedure = Procedure(data[7] % 8);
    const std::string_view description(reinterpret_cast<const char*>(data + 8), size - 8);

    const std::string stamp = time_stamp(when);
    FUZZ_CHECK(stamp.size() == 17, stamp);
    int d = -1, mo = -1, y = -1, h = -1, mi = -1, s = -1;
    char end = 0;
    FUZZ_CHECK(std::sscanf(stamp.c_str(), "%2d-%2d-%2d-%2d-%2d-%2d%c", &d, &mo, &y, &h, &mi, &s,
                           &end) == 6,
               stamp);
    FUZZ_CHECK(d == when.tm_mday && mo == when.tm_mon + 1 && y == (when.tm_year + 1900) % 100 &&
                   h == when.tm_hour && mi == when.tm_min && s == when.tm_sec,
               stamp);

    const RecordFrame frame = record_frame(procedure);
    FUZZ_CHECK(!frame.heading.empty() && !frame.trailer.empty(), stamp);
    const std::string record = error_record(procedure, when, description);
    const std::string firstLine =
        std::string(frame.heading) + stamp + std::string(frame.trailer) + "\r\n";
    FUZZ_CHECK(record.compare(0, firstLine.size(), firstLine) == 0, record);
    FUZZ_CHECK(record.substr(firstLine.size()) == description, record);
    return 0;
}
