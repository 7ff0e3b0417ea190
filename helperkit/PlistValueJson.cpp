#include "helperkit/PlistValueJson.h"

#include <cmath>
#include <limits>

#include "helperkit/Base64.h"
#include "helperkit/detail/PlistDates.h"

namespace qw {
namespace {

nlohmann::json toJson(const PlistValue& value, int depth) {
    if (depth > 512) throw PlistJsonEncodingError("The property list value is nested too deeply for JSON.");
    return std::visit(
        [&](const auto& v) -> nlohmann::json {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, std::int64_t> ||
                          std::is_same_v<T, std::uint64_t> || std::is_same_v<T, bool>) {
                return v;
            } else if constexpr (std::is_same_v<T, double>) {
                // JSON has no spelling for these; writing null would change the value unseen.
                if (!std::isfinite(v)) throw PlistJsonEncodingError("A number that is not finite cannot be written as JSON.");
                return v;
            } else if constexpr (std::is_same_v<T, PlistDate>) {
                std::string text;
                if (!detail::appendIsoDate(text, v.secondsSinceReference))
                    throw PlistJsonEncodingError("A date lies too far in the past or future to be written as JSON.");
                return text;
            } else if constexpr (std::is_same_v<T, PlistData>) {
                return Base64::encode(v);
            } else if constexpr (std::is_same_v<T, PlistArray>) {
                nlohmann::json array = nlohmann::json::array();
                for (const auto& item : v) array.push_back(toJson(item, depth + 1));
                return array;
            } else {
                nlohmann::json object = nlohmann::json::object();
                for (const auto& [key, item] : v) object[key] = toJson(item, depth + 1);
                return object;
            }
        },
        value.storage());
}

PlistValue fromJson(const nlohmann::json& json, int depth) {
    if (depth > 512) throw PlistJsonError();
    using Type = nlohmann::json::value_t;
    switch (json.type()) {
        case Type::boolean: return PlistValue(json.get<bool>());
        case Type::number_integer: return PlistValue(json.get<std::int64_t>());
        case Type::number_unsigned: return PlistValue(json.get<std::uint64_t>());
        case Type::number_float: {
            // Integers are tried before reals: a number with an integral value decodes as one.
            const double d = json.get<double>();
            if (d == std::trunc(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
                return PlistValue(static_cast<std::int64_t>(d));
            return PlistValue(d);
        }
        case Type::string: return PlistValue(json.get_ref<const std::string&>());
        case Type::array: {
            PlistArray items;
            items.reserve(json.size());
            for (const auto& item : json) items.push_back(fromJson(item, depth + 1));
            return PlistValue(std::move(items));
        }
        case Type::object: {
            std::vector<PlistDictionary::Entry> entries;
            entries.reserve(json.size());
            for (const auto& [key, item] : json.items()) entries.emplace_back(key, fromJson(item, depth + 1));
            return PlistValue(PlistDictionary::fromEntries(std::move(entries)));
        }
        default: throw PlistJsonError();
    }
}

}  // namespace

nlohmann::json plistToJson(const PlistValue& value) { return toJson(value, 0); }

PlistValue plistFromJson(const nlohmann::json& json) { return fromJson(json, 0); }

}  // namespace qw
