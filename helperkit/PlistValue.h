// PlistValue: one property-list value — the in-memory tree of every launchd job file.
// Eight kinds, in this order (the order is also the case index used for hashing): string, integer,
// real, boolean, date, data, array, dictionary. Dictionaries keep the order their file had (new keys
// go last) so a saved file changes only where something changed, yet compare as unordered maps.
// Integers run from -2^63 to 2^64-1, as the platform reads them: those above 2^63-1 are held as a ninth
// alternative of storage() (std::uint64_t) whose kind() is still integer.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace qw {

class PlistValue;

// A point in time as seconds since 2001-01-01 00:00:00 UTC (the property-list reference date).
struct PlistDate {
    double secondsSinceReference = 0;
    // A date equals itself even when its seconds are NaN, so that such a file can read as unchanged.
    bool operator==(const PlistDate& other) const;
};

using PlistData = std::vector<std::uint8_t>;
using PlistArray = std::vector<PlistValue>;

// Map from text keys to values that remembers insertion order. Equality ignores the order.
class PlistDictionary {
public:
    using Entry = std::pair<std::string, PlistValue>;

    PlistDictionary() = default;
    PlistDictionary(std::initializer_list<Entry> entries);  // a repeated key keeps the last value
    // As many entries at once, as readers collect them: a repeated key keeps the last value at the
    // place of its first appearance.
    static PlistDictionary fromEntries(std::vector<Entry> entries);

    const PlistValue* find(std::string_view key) const;
    PlistValue* find(std::string_view key);
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    // Replaces the value in place when the key exists, else appends the entry.
    void set(std::string key, PlistValue value);
    bool erase(std::string_view key);
    void reserve(std::size_t count);

    // Defined below PlistValue: the entries' type is complete only there.
    std::size_t size() const;
    bool empty() const;
    std::vector<std::string> keys() const;  // in stored order

    const std::vector<Entry>& entries() const { return entries_; }
    std::vector<Entry>::const_iterator begin() const;
    std::vector<Entry>::const_iterator end() const;

    bool operator==(const PlistDictionary& other) const;
    std::size_t hash() const;  // independent of the order

private:
    std::vector<Entry> entries_;
};

class PlistValue {
public:
    enum class Kind { string = 0, integer, real, boolean, date, data, array, dictionary };

    PlistValue() : storage_(std::string()) {}
    PlistValue(std::string s) : storage_(std::move(s)) {}
    PlistValue(const char* s) : storage_(std::in_place_type<std::string>, s) {}
    PlistValue(std::string_view s) : storage_(std::in_place_type<std::string>, s) {}
    PlistValue(std::int64_t i) : storage_(i) {}
    PlistValue(int i) : storage_(std::int64_t(i)) {}
    PlistValue(std::uint64_t u);
    PlistValue(double d) : storage_(d) {}
    PlistValue(bool b) : storage_(b) {}
    PlistValue(PlistDate d) : storage_(d) {}
    PlistValue(PlistData d) : storage_(std::move(d)) {}
    PlistValue(PlistArray a) : storage_(std::move(a)) {}
    PlistValue(PlistDictionary d) : storage_(std::move(d)) {}

    static PlistValue array(std::initializer_list<PlistValue> items) { return PlistValue(PlistArray(items)); }
    static PlistValue dictionary(std::initializer_list<PlistDictionary::Entry> entries) {
        return PlistValue(PlistDictionary(entries));
    }

    Kind kind() const { return storage_.index() == 8 ? Kind::integer : static_cast<Kind>(storage_.index()); }
    bool isString() const { return kind() == Kind::string; }
    bool isDictionary() const { return kind() == Kind::dictionary; }
    bool isArray() const { return kind() == Kind::array; }

    // Accessors: absent when the value is of another kind (see each for the exceptions).
    std::optional<std::string> stringValue() const;
    const std::string* stringPointer() const;     // no copy; nullptr when not a string
    std::optional<bool> boolValue() const;        // boolean; integer != 0; never a real
    std::optional<std::int64_t> intValue() const; // integer; real truncated toward zero when finite and in range
    std::optional<std::uint64_t> unsignedValue() const;  // an integer from 0 to 2^64-1 only
    std::optional<double> realValue() const;      // a real only
    std::optional<PlistDate> dateValue() const;
    const PlistData* dataValue() const;
    const PlistArray* arrayValue() const;
    PlistArray* arrayValue();
    const PlistDictionary* dictionaryValue() const;
    PlistDictionary* dictionaryValue();
    // Strings of an array (other elements skipped), or a lone string as a one-element list.
    std::optional<std::vector<std::string>> stringArrayValue() const;

    std::string typeName() const;  // "String", "Integer", "Number", "Boolean", "Date", "Data", "Array", "Dictionary"
    std::string summary() const;   // a short text for lists and rows

    std::size_t hash() const;
    bool operator==(const PlistValue& other) const;

    const auto& storage() const { return storage_; }

private:
    // The std::uint64_t alternative holds only integers above 2^63-1, so every number has one form.
    std::variant<std::string, std::int64_t, double, bool, PlistDate, PlistData, PlistArray, PlistDictionary,
                 std::uint64_t>
        storage_;
};

inline std::size_t PlistDictionary::size() const { return entries_.size(); }
inline bool PlistDictionary::empty() const { return entries_.empty(); }
inline std::vector<PlistDictionary::Entry>::const_iterator PlistDictionary::begin() const { return entries_.begin(); }
inline std::vector<PlistDictionary::Entry>::const_iterator PlistDictionary::end() const { return entries_.end(); }

// Shortest decimal form that reads back as the same double, in the platform's number style: 1.0, 0.25,
// 1000000.0, 0.0001; exponents only below 0.0001 or above 2^53 (1e-05, 1e+20).
std::string shortestRealText(double value);

}  // namespace qw

template <>
struct std::hash<qw::PlistValue> {
    std::size_t operator()(const qw::PlistValue& v) const noexcept { return v.hash(); }
};
