// The round trip every property-list fuzz target checks: what reads must write back, read again to the
// same value and rewrite to the same bytes, and the job-file layer must agree with the codec.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "helperkit/PlistCodec.h"
#include "helperkit/PlistFile.h"

namespace fuzz {

// Equality as the reader should preserve it: a NaN read back is the same NaN.
inline bool same(const qw::PlistValue& a, const qw::PlistValue& b) {
    if (a.kind() != b.kind()) return false;
    if (auto x = a.realValue()) {
        const double y = *b.realValue();
        return (std::isnan(*x) && std::isnan(y)) || *x == y;
    }
    if (auto x = a.dateValue()) {
        const double y = b.dateValue()->secondsSinceReference;
        return (std::isnan(x->secondsSinceReference) && std::isnan(y)) || x->secondsSinceReference == y;
    }
    if (const auto* x = a.arrayValue()) {
        const auto* y = b.arrayValue();
        if (x->size() != y->size()) return false;
        for (std::size_t i = 0; i < x->size(); ++i)
            if (!same((*x)[i], (*y)[i])) return false;
        return true;
    }
    if (const auto* x = a.dictionaryValue()) {
        const auto* y = b.dictionaryValue();
        if (x->size() != y->size()) return false;
        for (const auto& [key, value] : *x) {
            const qw::PlistValue* other = y->find(key);
            if (!other || !same(value, *other)) return false;
        }
        return true;
    }
    return a == b;
}


inline void checkRoundTrip(const std::string& bytes) {
    qw::PlistCodec::Parsed parsed;
    try {
        parsed = qw::PlistCodec::read(bytes);
    } catch (const qw::PlistParseError&) {
        return;
    }
    if (parsed.empty) return;
    const qw::PlistFormat format = parsed.format == qw::PlistFormat::openStep ? qw::PlistFormat::xml : parsed.format;
    try {
        const std::string written = qw::PlistCodec::write(parsed.value, format);
        const qw::PlistCodec::Parsed again = qw::PlistCodec::read(written);
        if (again.format != format || !same(parsed.value, again.value)) __builtin_trap();
        if (qw::PlistCodec::write(again.value, format) != written) __builtin_trap();
    } catch (const std::exception&) {
        __builtin_trap();  // what was read must be writable and readable again
    }
    // The job-file layer on top must agree with the codec.
    try {
        (void)qw::PlistFile::fromData(bytes, "fuzz.plist");
    } catch (const qw::PlistFile::ReadError&) {
    }
}

}  // namespace fuzz
