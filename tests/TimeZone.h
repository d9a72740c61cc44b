#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

namespace talviren::testing {

// Puts the process into a time zone (a TZ value) until it goes out of scope.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        const char* saved = std::getenv("TZ");
        had_ = saved != nullptr;
        before_ = saved ? saved : "";
        set(zone);
    }
    ~TimeZone() { had_ ? set(before_.c_str()) : (void)(::unsetenv("TZ"), ::tzset()); }
    TimeZone(const TimeZone&) = delete;
    TimeZone& operator=(const TimeZone&) = delete;

    void set(const char* zone) {
        ::setenv("TZ", zone, 1);
        ::tzset();
    }

private:
    bool had_ = false;
    std::string before_;
};

} // namespace talviren::testing
