#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

// Runs a test in a POSIX time zone ("CET-1CEST,M3.5.0,M10.5.0/3", "EST5";
// no zone database needed) and puts the previous zone back afterwards.
class ZoneGuard
{
public:
    explicit ZoneGuard(const char* tz)
    {
        const char* old = std::getenv("TZ");
        m_hadOld = old != nullptr;
        if (old)
            m_old = old;
        setenv("TZ", tz, 1);
        tzset();
    }

    ~ZoneGuard()
    {
        if (m_hadOld)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    ZoneGuard(const ZoneGuard&) = delete;
    ZoneGuard& operator=(const ZoneGuard&) = delete;

private:
    bool m_hadOld = false;
    std::string m_old;
};
