#include "helperkit/PlistValue.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <ctime>
#include <limits>
#include <locale.h>
#include <numeric>

#include "helperkit/detail/PlistDates.h"

namespace qw {
namespace {

std::size_t mix(std::size_t h) {
    std::uint64_t z = h + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<std::size_t>(z ^ (z >> 31));
}

std::size_t combine(std::size_t seed, std::size_t h) { return mix(seed ^ (h + 0x9E3779B9 + (seed << 6))); }

// Reals equal when == says so or both are NaN: a value always equals itself.
bool sameReal(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

std::size_t hashDouble(double d) {
    if (d == 0) d = 0;  // +0 and -0 are equal, so they hash alike
    if (std::isnan(d)) d = std::numeric_limits<double>::quiet_NaN();  // and so do all NaNs
    return std::hash<std::uint64_t>{}(std::bit_cast<std::uint64_t>(d));
}

// Entries sorted by key, to compare or deduplicate large dictionaries in n log n.
std::vector<std::size_t> sortedOrder(const std::vector<PlistDictionary::Entry>& entries) {
    std::vector<std::size_t> order(entries.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return entries[a].first < entries[b].first; });
    return order;
}

constexpr std::size_t smallDictionary = 16;

}  // namespace

bool PlistDate::operator==(const PlistDate& other) const {
    return sameReal(secondsSinceReference, other.secondsSinceReference);
}

PlistValue::PlistValue(std::uint64_t u) {
    if (u <= std::uint64_t(std::numeric_limits<std::int64_t>::max())) storage_ = std::int64_t(u);
    else storage_ = u;
}

PlistDictionary::PlistDictionary(std::initializer_list<Entry> entries)
    : PlistDictionary(fromEntries(std::vector<Entry>(entries))) {}

PlistDictionary PlistDictionary::fromEntries(std::vector<Entry> entries) {
    PlistDictionary result;
    const std::size_t n = entries.size();
    bool repeated = false;
    std::vector<std::size_t> order;
    if (n <= smallDictionary) {
        for (std::size_t i = 1; i < n && !repeated; ++i)
            for (std::size_t j = 0; j < i; ++j)
                if (entries[i].first == entries[j].first) {
                    repeated = true;
                    break;
                }
    } else {
        // Open addressing over the keys: only a real repeat pays for the sort below.
        std::size_t size = 64;
        while (size < 2 * n) size *= 2;
        constexpr std::uint32_t empty = 0xFFFFFFFF;
        std::array<std::uint32_t, 64> small;
        std::vector<std::uint32_t> large;
        std::uint32_t* slots = small.data();
        if (size > small.size()) {
            large.resize(size);
            slots = large.data();
        }
        std::fill(slots, slots + size, empty);
        for (std::size_t i = 0; i < n && !repeated; ++i) {
            for (std::size_t at = std::hash<std::string>{}(entries[i].first) & (size - 1);; at = (at + 1) & (size - 1)) {
                if (slots[at] == empty) {
                    slots[at] = static_cast<std::uint32_t>(i);
                    break;
                }
                if (entries[slots[at]].first == entries[i].first) {
                    repeated = true;
                    break;
                }
            }
        }
    }
    if (!repeated) {
        result.entries_ = std::move(entries);
        return result;
    }
    if (order.empty()) order = sortedOrder(entries);
    // Within a run of equal keys (stable, so in file order) the first place and the last value win.
    std::vector<bool> keep(n, false);
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i;
        while (j + 1 < n && entries[order[j + 1]].first == entries[order[i]].first) ++j;
        if (j != i) entries[order[i]].second = std::move(entries[order[j]].second);
        keep[order[i]] = true;
        i = j + 1;
    }
    result.entries_.reserve(n);
    for (std::size_t i = 0; i < n; ++i)
        if (keep[i]) result.entries_.push_back(std::move(entries[i]));
    return result;
}

void PlistDictionary::reserve(std::size_t count) { entries_.reserve(count); }

const PlistValue* PlistDictionary::find(std::string_view key) const {
    for (const auto& entry : entries_)
        if (entry.first == key) return &entry.second;
    return nullptr;
}

PlistValue* PlistDictionary::find(std::string_view key) {
    for (auto& entry : entries_)
        if (entry.first == key) return &entry.second;
    return nullptr;
}

void PlistDictionary::set(std::string key, PlistValue value) {
    if (PlistValue* existing = find(key)) {
        *existing = std::move(value);
        return;
    }
    entries_.emplace_back(std::move(key), std::move(value));
}

bool PlistDictionary::erase(std::string_view key) {
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.first == key; });
    if (it == entries_.end()) return false;
    entries_.erase(it);
    return true;
}

std::vector<std::string> PlistDictionary::keys() const {
    std::vector<std::string> result;
    result.reserve(entries_.size());
    for (const auto& entry : entries_) result.push_back(entry.first);
    return result;
}

bool PlistDictionary::operator==(const PlistDictionary& other) const {
    const std::size_t n = entries_.size();
    if (n != other.entries_.size()) return false;
    if (n <= smallDictionary) {
        for (std::size_t i = 0; i < n; ++i) {
            // Files written back keep their order, so the same place is the likely match.
            const auto& entry = entries_[i];
            const PlistValue* match =
                other.entries_[i].first == entry.first ? &other.entries_[i].second : other.find(entry.first);
            if (!match || !(*match == entry.second)) return false;
        }
        return true;
    }
    const auto mine = sortedOrder(entries_);
    const auto theirs = sortedOrder(other.entries_);
    for (std::size_t i = 0; i < n; ++i) {
        const auto& a = entries_[mine[i]];
        const auto& b = other.entries_[theirs[i]];
        if (a.first != b.first || !(a.second == b.second)) return false;
    }
    return true;
}

std::size_t PlistDictionary::hash() const {
    // A sum does not depend on the order of the entries.
    std::size_t sum = 0;
    for (const auto& [key, value] : entries_) sum += mix(std::hash<std::string>{}(key) ^ value.hash());
    return combine(entries_.size(), sum);
}

std::optional<std::string> PlistValue::stringValue() const {
    if (const auto* s = std::get_if<std::string>(&storage_)) return *s;
    return std::nullopt;
}

const std::string* PlistValue::stringPointer() const { return std::get_if<std::string>(&storage_); }

std::optional<bool> PlistValue::boolValue() const {
    if (const auto* b = std::get_if<bool>(&storage_)) return *b;
    if (const auto* i = std::get_if<std::int64_t>(&storage_)) return *i != 0;
    if (std::holds_alternative<std::uint64_t>(storage_)) return true;
    return std::nullopt;
}

std::optional<std::int64_t> PlistValue::intValue() const {
    if (const auto* i = std::get_if<std::int64_t>(&storage_)) return *i;
    if (const auto* d = std::get_if<double>(&storage_)) {
        // -2^63 is representable; 2^63 is the first double past the top of the range.
        if (std::isfinite(*d) && *d >= -9223372036854775808.0 && *d < 9223372036854775808.0)
            return static_cast<std::int64_t>(*d);
    }
    return std::nullopt;
}

std::optional<std::uint64_t> PlistValue::unsignedValue() const {
    if (const auto* u = std::get_if<std::uint64_t>(&storage_)) return *u;
    if (const auto* i = std::get_if<std::int64_t>(&storage_); i && *i >= 0) return std::uint64_t(*i);
    return std::nullopt;
}

std::optional<double> PlistValue::realValue() const {
    if (const auto* d = std::get_if<double>(&storage_)) return *d;
    return std::nullopt;
}

std::optional<PlistDate> PlistValue::dateValue() const {
    if (const auto* d = std::get_if<PlistDate>(&storage_)) return *d;
    return std::nullopt;
}

const PlistData* PlistValue::dataValue() const { return std::get_if<PlistData>(&storage_); }
const PlistArray* PlistValue::arrayValue() const { return std::get_if<PlistArray>(&storage_); }
PlistArray* PlistValue::arrayValue() { return std::get_if<PlistArray>(&storage_); }
const PlistDictionary* PlistValue::dictionaryValue() const { return std::get_if<PlistDictionary>(&storage_); }
PlistDictionary* PlistValue::dictionaryValue() { return std::get_if<PlistDictionary>(&storage_); }

std::optional<std::vector<std::string>> PlistValue::stringArrayValue() const {
    if (const auto* s = std::get_if<std::string>(&storage_)) return std::vector<std::string>{*s};
    if (const auto* a = std::get_if<PlistArray>(&storage_)) {
        std::vector<std::string> result;
        for (const auto& element : *a)
            if (const auto* s = element.stringPointer()) result.push_back(*s);
        return result;
    }
    return std::nullopt;
}

std::string PlistValue::typeName() const {
    static constexpr const char* names[] = {"String", "Integer", "Number", "Boolean",
                                            "Date",   "Data",    "Array",  "Dictionary"};
    return names[static_cast<std::size_t>(kind())];
}

namespace {

std::string counted(std::size_t n, const char* one, const char* many) {
    return n == 1 ? std::string("1 ") + one : std::to_string(n) + " " + many;
}

std::string dateSummary(PlistDate date) {
    const double unixSeconds = std::floor(date.secondsSinceReference + detail::referenceDateUnixSeconds);
    if (!std::isfinite(unixSeconds) || std::fabs(unixSeconds) > 1e15) return shortestRealText(date.secondsSinceReference);
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    if (!localtime_r(&t, &local)) return shortestRealText(date.secondsSinceReference);
    // The environment's time locale, without touching the process-wide one.
    locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (!loc) loc = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
    char buffer[128];
    std::size_t n = strftime_l(buffer, sizeof buffer, "%e %b %Y, %H:%M", &local, loc);
    if (loc) freelocale(loc);
    std::string text(buffer, n);
    text.erase(0, text.find_first_not_of(' '));
    return text;
}

}  // namespace

std::string PlistValue::summary() const {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>) return v;
            else if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, std::uint64_t>) return std::to_string(v);
            else if constexpr (std::is_same_v<T, double>) return shortestRealText(v);
            else if constexpr (std::is_same_v<T, bool>) return v ? "true" : "false";
            else if constexpr (std::is_same_v<T, PlistDate>) return dateSummary(v);
            else if constexpr (std::is_same_v<T, PlistData>) return std::to_string(v.size()) + " bytes";
            else if constexpr (std::is_same_v<T, PlistArray>) return counted(v.size(), "item", "items");
            else return counted(v.size(), "entry", "entries");
        },
        storage_);
}

std::size_t PlistValue::hash() const {
    std::size_t h = mix(static_cast<std::size_t>(kind()));
    std::visit(
        [&](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>) h = combine(h, std::hash<std::string>{}(v));
            else if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, std::uint64_t>)
                h = combine(h, std::hash<T>{}(v));
            else if constexpr (std::is_same_v<T, double>) h = combine(h, hashDouble(v));
            else if constexpr (std::is_same_v<T, bool>) h = combine(h, v ? 1 : 0);
            else if constexpr (std::is_same_v<T, PlistDate>) h = combine(h, hashDouble(v.secondsSinceReference));
            else if constexpr (std::is_same_v<T, PlistData>)
                h = combine(h, std::hash<std::string_view>{}(
                                   std::string_view(reinterpret_cast<const char*>(v.data()), v.size())));
            else if constexpr (std::is_same_v<T, PlistArray>) {
                h = combine(h, v.size());
                for (const auto& element : v) h = combine(h, element.hash());
            } else {
                h = combine(h, v.hash());
            }
        },
        storage_);
    return h;
}

bool PlistValue::operator==(const PlistValue& other) const {
    if (const auto* d = std::get_if<double>(&storage_)) {
        const auto* e = std::get_if<double>(&other.storage_);
        return e && sameReal(*d, *e);
    }
    return storage_ == other.storage_;  // dates, arrays and dictionaries compare reals through here too
}

std::string shortestRealText(double value) {
    // Integers up to 2^53 are written out in full, as people use doubles for them.
    const double magnitude = std::fabs(value);
    const bool exponent = std::isfinite(value) && value != 0 && (magnitude < 1e-4 || magnitude > 0x1p53);
    char buffer[400];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                   exponent ? std::chars_format::scientific : std::chars_format::fixed);
    std::string text(buffer, ec == std::errc() ? end : buffer);
    if (std::isfinite(value) && text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

}  // namespace qw
