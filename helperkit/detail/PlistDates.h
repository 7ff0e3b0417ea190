// ISO 8601 UTC date text ("2026-12-09T14:05:00Z") for XML <date> and JSON, shared by reader and writers.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qw::detail {

inline constexpr double referenceDateUnixSeconds = 978307200.0;  // 2001-01-01T00:00:00Z
// Dates beyond this many seconds from the reference have no six-digit year and are not written as text.
inline constexpr double largestTextDateSeconds = 1e13;

inline std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// Appends the text; false when the date is not finite or too far out to have one.
inline bool appendIsoDate(std::string& out, double secondsSinceReference) {
    if (!std::isfinite(secondsSinceReference) || std::fabs(secondsSinceReference) >= largestTextDateSeconds)
        return false;
    const auto t = static_cast<std::int64_t>(std::floor(secondsSinceReference)) +
                   static_cast<std::int64_t>(referenceDateUnixSeconds);
    std::int64_t days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
    std::int64_t secs = t - days * 86400;
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;

    char buffer[40];
    char* p = buffer;
    auto digits = [&](std::uint64_t v, int width) {
        char tmp[20];
        int n = 0;
        do {
            tmp[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v);
        for (int k = n; k < width; ++k) *p++ = '0';
        while (n) *p++ = tmp[--n];
    };
    if (y < 0) *p++ = '-';
    digits(static_cast<std::uint64_t>(y < 0 ? -y : y), 4);
    *p++ = '-';
    digits(m, 2);
    *p++ = '-';
    digits(d, 2);
    *p++ = 'T';
    digits(static_cast<std::uint64_t>(secs / 3600), 2);
    *p++ = ':';
    digits(static_cast<std::uint64_t>(secs / 60 % 60), 2);
    *p++ = ':';
    digits(static_cast<std::uint64_t>(secs % 60), 2);
    *p++ = 'Z';
    out.append(buffer, p);
    return true;
}

// Reads what appendIsoDate writes, and the shorter forms (date only, no Z) old files have.
inline std::optional<double> parseIsoDate(std::string_view s) {
    std::size_t i = 0;
    auto number = [&](std::size_t minDigits, std::size_t maxDigits) -> std::optional<std::int64_t> {
        std::int64_t v = 0;
        std::size_t n = 0;
        while (i < s.size() && n < maxDigits && s[i] >= '0' && s[i] <= '9') {
            v = v * 10 + (s[i++] - '0');
            ++n;
        }
        if (n < minDigits) return std::nullopt;
        return v;
    };
    auto expect = [&](char c) {
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    };
    const bool negative = expect('-');
    auto year = number(1, 6);
    if (!year || !expect('-')) return std::nullopt;
    auto month = number(2, 2);
    if (!month || !expect('-')) return std::nullopt;
    auto day = number(2, 2);
    if (!day) return std::nullopt;
    std::int64_t hour = 0, minute = 0, second = 0;
    if (expect('T')) {
        auto h = number(2, 2);
        if (!h || !expect(':')) return std::nullopt;
        auto mi = number(2, 2);
        if (!mi || !expect(':')) return std::nullopt;
        auto se = number(2, 2);
        if (!se) return std::nullopt;
        hour = *h, minute = *mi, second = *se;
    }
    expect('Z');
    if (i != s.size()) return std::nullopt;
    if (*month < 1 || *month > 12 || *day < 1 || *day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    const std::int64_t y = negative ? -*year : *year;
    const std::int64_t days = daysFromCivil(y, static_cast<unsigned>(*month), static_cast<unsigned>(*day));
    const double seconds = static_cast<double>(days * 86400 + hour * 3600 + minute * 60 + second) -
                           referenceDateUnixSeconds;
    if (std::fabs(seconds) >= largestTextDateSeconds) return std::nullopt;
    return seconds;
}

}  // namespace qw::detail
