#include "Quillwick/editing/model/KeyValues.h"

#include "Quillwick/editing/model/DecimalInteger.h"

namespace qw::KeyValues {

namespace {

using Kind = LaunchdSchema::Shape::Kind;

// An integer of either range as it is, a real truncated toward zero; nothing for other kinds.
std::optional<PlistValue> wholeNumber(const PlistValue& value) {
    if (value.kind() == PlistValue::Kind::integer) return value;
    if (auto number = value.intValue()) return PlistValue(*number);
    return std::nullopt;
}

std::string decimalText(const PlistValue& number) {
    if (auto i = number.intValue()) return std::to_string(*i);
    return std::to_string(number.unsignedValue().value_or(0));
}

PlistValue stringArray(const std::vector<std::string>& values) {
    PlistArray array;
    for (const std::string& v : values) array.emplace_back(v);
    return PlistValue(std::move(array));
}

}  // namespace

Control controlFor(const LaunchdSchema::Key& key, const JobDefinition& d) {
    const bool choices = key.allowedValues.has_value();
    switch (key.shape.kind()) {
    case Kind::string:
        return choices ? Control::picker : Control::text;
    case Kind::path:
    case Kind::executablePath:
        return choices ? Control::picker : Control::path;
    case Kind::integer:
        return choices ? Control::picker : Control::integer;
    case Kind::boolean:
        return choices ? Control::picker : Control::toggle;
    case Kind::stringArray:
    case Kind::pathArray:
        return Control::list;
    case Kind::stringOrStringArray:
        // A picker holds one value; several stored values stay a list so that none is dropped.
        if (choices && list(d, key).size() <= 1) return Control::picker;
        return Control::list;
    case Kind::stringDictionary:
        return Control::textDictionary;
    case Kind::integerDictionary:
        return Control::integerDictionary;
    case Kind::calendarInterval:
        return Control::calendar;
    case Kind::booleanOrConditions:
        return Control::keepAlive;
    case Kind::structured:
    case Kind::data:
        return Control::readOnly;
    }
    return Control::readOnly;
}

bool listHoldsPaths(const LaunchdSchema::Key& key) {
    return key.shape.kind() != Kind::stringArray && !key.allowedValues;
}

bool wantsDirectory(const LaunchdSchema::Key& key) {
    return key.name == "WorkingDirectory" || key.name == "RootDirectory" || key.name == "QueueDirectories";
}

std::string text(const JobDefinition& d, const LaunchdSchema::Key& key) {
    const PlistValue* value = d.find(key.name);
    if (!value) return "";
    if (const std::string* s = value->stringPointer()) return *s;
    if (auto strings = value->stringArrayValue(); strings && !strings->empty()) return strings->front();
    return "";
}

void setText(JobDefinition& d, const LaunchdSchema::Key& key, const std::string& value) { d.set(key.name, PlistValue(value)); }

bool boolean(const JobDefinition& d, const LaunchdSchema::Key& key) {
    const PlistValue* value = d.find(key.name);
    return value && value->boolValue().value_or(false);
}

void setBoolean(JobDefinition& d, const LaunchdSchema::Key& key, bool value) { d.set(key.name, PlistValue(value)); }

PlistValue integer(const JobDefinition& d, const LaunchdSchema::Key& key) {
    const PlistValue* value = d.find(key.name);
    return value ? wholeNumber(*value).value_or(PlistValue(0)) : PlistValue(0);
}

void setInteger(JobDefinition& d, const LaunchdSchema::Key& key, const PlistValue& value) { d.set(key.name, value); }

std::optional<std::string> integerProblem(const LaunchdSchema::Key& key, const PlistValue& number) {
    const auto range = LaunchdSchema::integerRange(key.name);
    if (!range || range->contains(number)) return std::nullopt;
    return "Must be " + range->text();
}

std::vector<std::string> list(const JobDefinition& d, const LaunchdSchema::Key& key) {
    const PlistValue* value = d.find(key.name);
    if (!value) return {};
    return value->stringArrayValue().value_or(std::vector<std::string>{});
}

void setList(JobDefinition& d, const LaunchdSchema::Key& key, const std::vector<std::string>& values) {
    const PlistValue* current = d.find(key.name);
    if (key.shape.kind() == Kind::stringOrStringArray && current && current->isString() && values.size() == 1) {
        d.set(key.name, PlistValue(values.front()));
        return;
    }
    d.set(key.name, stringArray(values));
}

TextDictionary textDictionary(const JobDefinition& d, const LaunchdSchema::Key& key) {
    TextDictionary entries;
    const PlistValue* value = d.find(key.name);
    if (const PlistDictionary* dictionary = value ? value->dictionaryValue() : nullptr) {
        for (const auto& [name, v] : *dictionary) {
            if (const std::string* s = v.stringPointer()) entries[name] = *s;
        }
    }
    return entries;
}

void setTextDictionary(JobDefinition& d, const LaunchdSchema::Key& key, const TextDictionary& entries) {
    // Keep the file's order for keys that stay, so a saved file changes only where it was edited.
    PlistDictionary dictionary;
    const PlistValue* value = d.find(key.name);
    if (const PlistDictionary* old = value ? value->dictionaryValue() : nullptr) {
        for (const auto& [name, v] : *old) {
            if (auto it = entries.find(name); it != entries.end()) dictionary.set(name, PlistValue(it->second));
        }
    }
    for (const auto& [name, text] : entries) {
        if (!dictionary.contains(name)) dictionary.set(name, PlistValue(text));
    }
    d.set(key.name, PlistValue(std::move(dictionary)));
}

TextDictionary editorValue(const PlistDictionary& stored) {
    TextDictionary entries;
    for (const auto& [name, v] : stored) {
        if (auto number = wholeNumber(v)) entries[name] = decimalText(*number);
    }
    return entries;
}

PlistDictionary plistValue(const TextDictionary& entries) {
    PlistDictionary dictionary;
    for (const auto& [name, text] : entries) {
        if (auto number = parsePlistInteger(text)) dictionary.set(name, std::move(*number));
    }
    return dictionary;
}

TextDictionary integerDictionary(const JobDefinition& d, const LaunchdSchema::Key& key) {
    const PlistValue* value = d.find(key.name);
    const PlistDictionary* dictionary = value ? value->dictionaryValue() : nullptr;
    return dictionary ? editorValue(*dictionary) : TextDictionary{};
}

void setIntegerDictionary(JobDefinition& d, const LaunchdSchema::Key& key, const TextDictionary& entries) {
    d.set(key.name, PlistValue(plistValue(entries)));
}

KeepAlive keepAlive(const JobDefinition& d) { return KeepAlive::fromPlistValue(d.find("KeepAlive")); }

void setKeepAlive(JobDefinition& d, const KeepAlive& value) {
    // Conditions with none set stay an empty dictionary: launchd restarts on none of them, and the row stays
    // for the user to tick one. Writing true instead would restart the job always, which nobody chose.
    if (value.hasNoCondition()) return d.set("KeepAlive", PlistValue(PlistDictionary{}));
    d.set("KeepAlive", value.plistValue());
}

std::string readOnlyText(const JobDefinition& d, const LaunchdSchema::Key& key) {
    const PlistValue* value = d.find(key.name);
    return value ? value->summary() : "—";
}

}  // namespace qw::KeyValues
