// LaunchdSchema: the fixed catalogue of the launchd keys the application knows — 60 keys in nine
// sections, each with the form of its value, plain-English help, which jobs may use it, the values it
// accepts and whether launchd still honours it — and the common misspellings of key names.
// Built once on first use (thread-safe) and read-only afterwards; any thread may read it.
#pragma once

#include <array>
#include <cstdint>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "helperkit/PlistValue.h"

namespace qw::LaunchdSchema {

class Section {
public:
    enum Value { identity, execution, scheduling, environment, inputOutput, constraints, limits, ipc, advanced };

    constexpr Section(Value v) : value_(v) {}
    constexpr operator Value() const { return value_; }

    static constexpr std::array<Section, 9> allCases() {
        return {identity, execution, scheduling, environment, inputOutput, constraints, limits, ipc, advanced};
    }
    // Exactly the titles ("When It Runs"); anything else is no section.
    static std::optional<Section> fromRawValue(std::string_view raw);

    std::string_view rawValue() const;  // the title: "Identity", "What Runs", …
    std::string_view summary() const;   // one line

private:
    Value value_;
};

class Shape {
public:
    enum class Kind {
        string,
        path,
        executablePath,
        integer,
        boolean,
        stringArray,
        pathArray,
        stringOrStringArray,
        stringDictionary,
        integerDictionary,
        booleanOrConditions,
        calendarInterval,
        structured,  // a value the editor does not edit field by field
        data,
    };

    constexpr Shape(Kind kind) : kind_(kind) {}
    static Shape booleanOrConditions(std::vector<std::string> keys) {
        Shape s(Kind::booleanOrConditions);
        s.conditionKeys_ = std::move(keys);
        return s;
    }

    Kind kind() const { return kind_; }
    // The condition keys of booleanOrConditions; empty for every other shape.
    const std::vector<std::string>& conditionKeys() const { return conditionKeys_; }

    std::size_t hash() const;
    bool operator==(const Shape&) const = default;

private:
    Kind kind_;
    std::vector<std::string> conditionKeys_;
};

enum class Applicability { any, agents, daemons };

struct Key {
    std::string name;  // exact spelling
    Shape shape = Shape::Kind::string;
    Section section = Section::advanced;
    std::string summary;                // one line
    std::optional<std::string> detail;  // paragraphs separated by a blank line
    Applicability applicability = Applicability::any;
    std::vector<std::string> conflicts;
    std::optional<std::vector<std::string>> allowedValues;  // in the order to offer them
    bool isDeprecated = false;
    std::optional<std::string> deprecationNote;  // what to do instead
    bool isPrivate = false;                      // undocumented

    const std::string& id() const { return name; }
    std::size_t hash() const;
    bool operator==(const Key&) const = default;
};

// Every key, sections in order, each section in catalogue order.
const std::vector<Key>& allKeys();
const std::map<std::string, Key, std::less<>>& keysByName();
// Case-sensitive; nullptr when the catalogue has no such key.
const Key* key(std::string_view name);
inline bool isKnown(std::string_view name) { return key(name) != nullptr; }
// The keys of one section, in catalogue order (a view into allKeys()).
std::span<const Key> keys(Section section);
// Misspelling to the launchd spelling.
const std::map<std::string, std::string, std::less<>>& typos();

// The numbers launchd takes under a key that it ignores, with only a line in its own log, outside them.
struct IntegerRange {
    std::int64_t lowest;
    std::optional<std::int64_t> highest;

    // `number` is an integer value; one past the signed range lies above it.
    bool contains(const PlistValue& number) const;
    std::string text() const;  // "1 or more", "from -20 to 20"
};
// Nothing for a key that takes any number.
std::optional<IntegerRange> integerRange(std::string_view key);

}  // namespace qw::LaunchdSchema

template <>
struct std::hash<qw::LaunchdSchema::Section> {
    std::size_t operator()(const qw::LaunchdSchema::Section& s) const noexcept { return std::hash<int>()(int(s)); }
};
template <>
struct std::hash<qw::LaunchdSchema::Shape> {
    std::size_t operator()(const qw::LaunchdSchema::Shape& s) const noexcept { return s.hash(); }
};
template <>
struct std::hash<qw::LaunchdSchema::Key> {
    std::size_t operator()(const qw::LaunchdSchema::Key& k) const noexcept { return k.hash(); }
};
