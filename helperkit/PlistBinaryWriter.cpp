// bplist00: objects, then the offset table, then the 32-byte trailer. Equal strings (keys above all)
// are stored once; containers are never shared. Integer and reference widths are the smallest that fit.
#include <bit>
#include <cstring>

#include "helperkit/Utf8.h"
#include "helperkit/detail/PlistFormats.h"

namespace qw {
namespace {

unsigned bytesFor(std::uint64_t v) {
    if (v < (1u << 8)) return 1;
    if (v < (1u << 16)) return 2;
    if (v < (std::uint64_t(1) << 32)) return 4;
    return 8;
}

class BinaryWriter {
public:
    template <typename T>
    std::string write(const T& top) {
        if constexpr (std::is_same_v<T, PlistValue>) flatten(top, 0);
        else flattenDictionary(top, nullptr, 0);
        // The platform refuses a file whose object count is not below 2^(8 × reference size).
        refSize_ = bytesFor(objects_.size());
        std::string out;
        out.reserve(estimate_ + objects_.size() * 4 + 64);
        out.append("bplist00");
        std::vector<std::uint64_t> offsets;
        offsets.reserve(objects_.size());
        for (const Object& o : objects_) {
            offsets.push_back(out.size());
            emit(out, o);
        }
        const std::uint64_t tableOffset = out.size();
        const unsigned offsetSize = bytesFor(tableOffset);
        for (std::uint64_t offset : offsets) appendUInt(out, offset, offsetSize);
        out.append(6, '\0');  // unused bytes and the sort version
        out.push_back(static_cast<char>(offsetSize));
        out.push_back(static_cast<char>(refSize_));
        appendUInt(out, objects_.size(), 8);
        appendUInt(out, 0, 8);  // the top object comes first
        appendUInt(out, tableOffset, 8);
        return out;
    }

private:
    struct Object {
        const PlistValue* value;                  // nullptr for a key and a bare root dictionary
        const std::string* key;                   // the text of a string
        std::uint32_t firstRef = 0;               // children's indices in refs_
        const PlistDictionary* root = nullptr;    // a root dictionary written without its PlistValue
    };

    std::uint32_t add(Object o) {
        objects_.push_back(o);
        return static_cast<std::uint32_t>(objects_.size() - 1);
    }

    // Open addressing over object indices: no allocation per string, which a map would make.
    std::uint32_t flattenString(const std::string& s, const PlistValue* value) {
        if (2 * (stringCount_ + 1) > slots_.size()) grow();
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = std::hash<std::string_view>{}(s) & mask;; i = (i + 1) & mask) {
            const std::uint32_t slot = slots_[i];
            if (slot == emptySlot) {
                estimate_ += s.size() + 3;
                const std::uint32_t index = add({value, &s});
                slots_[i] = index;
                ++stringCount_;
                return index;
            }
            if (*objects_[slot].key == s) return slot;
        }
    }

    void grow() {
        std::vector<std::uint32_t> old = std::move(slots_);
        slots_.assign(old.empty() ? 64 : 2 * old.size(), emptySlot);
        const std::size_t mask = slots_.size() - 1;
        for (std::uint32_t slot : old) {
            if (slot == emptySlot) continue;
            std::size_t i = std::hash<std::string_view>{}(*objects_[slot].key) & mask;
            while (slots_[i] != emptySlot) i = (i + 1) & mask;
            slots_[i] = slot;
        }
    }

    std::uint32_t flatten(const PlistValue& v, int depth) {
        if (const auto* s = v.stringPointer()) return flattenString(*s, &v);
        if (const auto* items = v.arrayValue()) {
            if (depth >= PlistCodec::maxDepth) tooDeep();
            const std::uint32_t index = add({&v, nullptr, static_cast<std::uint32_t>(refs_.size())});
            const std::size_t first = refs_.size();
            refs_.resize(first + items->size());
            for (std::size_t i = 0; i < items->size(); ++i) refs_[first + i] = flatten((*items)[i], depth + 1);
            estimate_ += 3;
            return index;
        }
        if (const auto* dict = v.dictionaryValue()) return flattenDictionary(*dict, &v, depth);
        if (const auto* data = v.dataValue()) estimate_ += data->size() + 3;
        else estimate_ += 17;
        return add({&v, nullptr});
    }

    std::uint32_t flattenDictionary(const PlistDictionary& dict, const PlistValue* v, int depth) {
        if (depth >= PlistCodec::maxDepth) tooDeep();
        const std::uint32_t index = add({v, nullptr, static_cast<std::uint32_t>(refs_.size()), v ? nullptr : &dict});
        const std::size_t first = refs_.size(), n = dict.size();
        refs_.resize(first + 2 * n);
        std::size_t i = 0;
        for (const auto& entry : dict) refs_[first + i++] = flattenString(entry.first, nullptr);
        i = 0;
        for (const auto& entry : dict) refs_[first + n + i++] = flatten(entry.second, depth + 1);
        estimate_ += 3;
        return index;
    }

    [[noreturn]] static void tooDeep() {
        throw PlistWriteError("The property list is nested too deeply to be written.");
    }

    static void appendUInt(std::string& out, std::uint64_t v, unsigned n) {
        for (unsigned i = n; i-- > 0;) out.push_back(static_cast<char>(v >> (8 * i)));
    }

    static void marker(std::string& out, unsigned type, std::uint64_t count) {
        if (count < 15) {
            out.push_back(static_cast<char>(type << 4 | count));
            return;
        }
        out.push_back(static_cast<char>(type << 4 | 0xF));
        integer(out, static_cast<std::int64_t>(count));
    }

    static void integer(std::string& out, std::int64_t i) {
        // Negative values always take eight bytes: only those are read as signed.
        const unsigned n = i < 0 ? 8 : bytesFor(static_cast<std::uint64_t>(i));
        out.push_back(static_cast<char>(0x10 | std::countr_zero(n)));
        appendUInt(out, static_cast<std::uint64_t>(i), n);
    }

    static void string(std::string& out, const std::string& s) {
        bool ascii = true;
        for (unsigned char c : s)
            if (c >= 0x80) {
                ascii = false;
                break;
            }
        if (ascii) {
            marker(out, 0x5, s.size());
            out.append(s);
            return;
        }
        const std::string valid = Utf8::isValid(s) ? std::string() : Utf8::sanitized(s);
        const std::string_view text = valid.empty() ? std::string_view(s) : std::string_view(valid);
        std::u16string units;
        units.reserve(text.size());
        for (std::size_t i = 0; i < text.size();) {
            const auto b0 = static_cast<unsigned char>(text[i]);
            char32_t c;
            std::size_t n;
            if (b0 < 0x80) c = b0, n = 1;
            else if (b0 < 0xE0) c = b0 & 0x1F, n = 2;
            else if (b0 < 0xF0) c = b0 & 0x0F, n = 3;
            else c = b0 & 0x07, n = 4;
            for (std::size_t k = 1; k < n; ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
            i += n;
            if (c >= 0x10000) {
                c -= 0x10000;
                units.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
                units.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
            } else {
                units.push_back(static_cast<char16_t>(c));
            }
        }
        marker(out, 0x6, units.size());
        for (char16_t u : units) {
            out.push_back(static_cast<char>(u >> 8));
            out.push_back(static_cast<char>(u & 0xFF));
        }
    }

    void refs(std::string& out, std::size_t first, std::size_t count) const {
        for (std::size_t i = 0; i < count; ++i) appendUInt(out, refs_[first + i], refSize_);
    }

    void emit(std::string& out, const Object& o) const {
        if (o.key) return string(out, *o.key);
        if (o.root) {
            marker(out, 0xD, o.root->size());
            return refs(out, o.firstRef, 2 * o.root->size());
        }
        std::visit(
            [&](const auto& x) {
                using T = std::decay_t<decltype(x)>;
                if constexpr (std::is_same_v<T, std::string>) string(out, x);
                else if constexpr (std::is_same_v<T, std::int64_t>) integer(out, x);
                else if constexpr (std::is_same_v<T, std::uint64_t>) {
                    // Above 2^63-1 only the sixteen-byte form reads back as unsigned.
                    out.push_back('\x14');
                    appendUInt(out, 0, 8);
                    appendUInt(out, x, 8);
                }
                else if constexpr (std::is_same_v<T, double>) {
                    out.push_back('\x23');
                    appendUInt(out, std::bit_cast<std::uint64_t>(x), 8);
                } else if constexpr (std::is_same_v<T, bool>) out.push_back(x ? '\x09' : '\x08');
                else if constexpr (std::is_same_v<T, PlistDate>) {
                    out.push_back('\x33');
                    appendUInt(out, std::bit_cast<std::uint64_t>(x.secondsSinceReference), 8);
                } else if constexpr (std::is_same_v<T, PlistData>) {
                    marker(out, 0x4, x.size());
                    out.append(reinterpret_cast<const char*>(x.data()), x.size());
                } else if constexpr (std::is_same_v<T, PlistArray>) {
                    marker(out, 0xA, x.size());
                    refs(out, o.firstRef, x.size());
                } else {
                    marker(out, 0xD, x.size());
                    refs(out, o.firstRef, 2 * x.size());
                }
            },
            o.value->storage());
    }

    std::vector<Object> objects_;
    std::vector<std::uint32_t> refs_;
    static constexpr std::uint32_t emptySlot = 0xFFFFFFFF;
    std::vector<std::uint32_t> slots_;
    std::size_t stringCount_ = 0;
    std::size_t estimate_ = 64;
    unsigned refSize_ = 1;
};

}  // namespace

std::string PlistCodec::writeBinary(const PlistValue& value) { return BinaryWriter().write(value); }
std::string PlistCodec::writeBinary(const PlistDictionary& root) { return BinaryWriter().write(root); }

}  // namespace qw
