#include "Quillwick/editing/model/CalendarFields.h"

#include "Quillwick/editing/model/DecimalInteger.h"

namespace qw::CalendarFields {

std::string text(std::optional<std::int64_t> value) { return value ? std::to_string(*value) : std::string(); }

std::optional<std::int64_t> valueFromText(std::string_view text, const Field& field, std::optional<std::int64_t> old) {
    if (text.empty()) return std::nullopt;
    auto value = parseDecimalInteger(text);
    if (!value || *value < field.lowest || *value > field.highest) return old;
    return value;
}

CalendarInterval newInterval() {
    CalendarInterval interval;
    interval.minute = 0;
    interval.hour = 9;
    return interval;
}

}  // namespace qw::CalendarFields
