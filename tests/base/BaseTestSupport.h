// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

// Helpers shared by the foundation library's tests.

// The whole file, or "<missing>" when it cannot be opened.
inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// Runs a test in a POSIX time zone ("CET-1CEST,M3.5.0,M10.5.0/3", "EST5";
// no zone database needed) and puts the previous zone back afterwards.
class ZoneGuard
{
public:
    explicit ZoneGuard(const char* tz)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ZoneGuard()
    {
        m_old ? setenv("TZ", m_old->c_str(), 1) : unsetenv("TZ");
        tzset();
    }
    ZoneGuard(const ZoneGuard&) = delete;

private:
    std::optional<std::string> m_old;
};
