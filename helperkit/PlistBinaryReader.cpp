// Binary property lists (bplist00). Every offset, count, length and reference is checked against the
// file before it is used; references may be shared but not circular, and the total work is bounded by
// the input's size so that shared containers cannot multiply into an exponential tree.
#include <bit>
#include <cstring>
#include <limits>
#include <optional>

#include "helperkit/detail/PlistFormats.h"

namespace qw::detail {
namespace {

[[noreturn]] void fail(const std::string& message) { throw PlistParseError(message); }

class BinaryReader {
public:
    explicit BinaryReader(std::string_view bytes) : b_(bytes) {}

    PlistCodec::Parsed read() {
        constexpr std::size_t headerSize = 8, trailerSize = 32;
        if (b_.size() < headerSize + 1 + trailerSize) fail("The binary property list is truncated.");
        const std::size_t trailer = b_.size() - trailerSize;
        offsetSize_ = byte(trailer + 6);
        refSize_ = byte(trailer + 7);
        objectCount_ = uint(trailer + 8, 8);
        const std::uint64_t top = uint(trailer + 16, 8);
        tableOffset_ = uint(trailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8)
            fail("The binary property list's trailer is damaged.");
        if (objectCount_ < 1 || top >= objectCount_) fail("The binary property list has no top object.");
        if (refSize_ < 8 && objectCount_ > (std::uint64_t(1) << (8 * refSize_)))
            fail("The binary property list has more objects than its references can reach.");
        if (tableOffset_ < headerSize + 1 || tableOffset_ > trailer ||
            objectCount_ > (trailer - tableOffset_) / offsetSize_)
            fail("The binary property list's offset table lies outside the file.");
        active_.assign(objectCount_, false);
        // Readers of ordinary files stay far below these; shared containers in a hostile file do not.
        objectBudget_ = 2 * std::uint64_t(b_.size()) + 64;
        byteBudget_ = 16 * std::uint64_t(b_.size()) + (16u << 20);
        auto value = object(top, 0);
        if (!value) return {PlistValue(), PlistFormat::binary, true};
        return {std::move(*value), PlistFormat::binary};
    }

private:
    std::uint8_t byte(std::uint64_t pos) const { return static_cast<std::uint8_t>(b_[pos]); }

    // Big-endian unsigned of n bytes; the caller has checked the bounds.
    std::uint64_t uint(std::uint64_t pos, unsigned n) const {
        std::uint64_t v = 0;
        for (unsigned i = 0; i < n; ++i) v = (v << 8) | byte(pos + i);
        return v;
    }

    // Room for `count` items of `size` bytes at `pos`, inside the object area.
    void need(std::uint64_t pos, std::uint64_t count, std::uint64_t size = 1) const {
        if (pos > tableOffset_ || count > (tableOffset_ - pos) / size)
            fail("An object of the binary property list runs past its end.");
    }

    void spend(std::uint64_t bytes) {
        if (--objectBudget_ == 0 || bytes > byteBudget_)
            fail("The binary property list expands to more objects than its size allows.");
        byteBudget_ -= bytes;
    }

    // The count in a marker's low nibble, or in the integer that follows it; advances pos past it.
    std::uint64_t count(std::uint64_t& pos, unsigned info) const {
        if (info != 0xF) return info;
        need(pos, 1);
        const std::uint8_t marker = byte(pos++);
        if ((marker & 0xF0) != 0x10 || (marker & 0x0F) > 3) fail("A count in the binary property list is damaged.");
        const unsigned n = 1u << (marker & 0x0F);
        need(pos, n);
        const std::uint64_t c = uint(pos, n);
        pos += n;
        return c;
    }

    std::uint64_t offsetOf(std::uint64_t ref) const {
        if (ref >= objectCount_) fail("A reference in the binary property list points at no object.");
        const std::uint64_t offset = uint(tableOffset_ + ref * offsetSize_, offsetSize_);
        if (offset < 8 || offset >= tableOffset_) fail("An object offset of the binary property list lies outside it.");
        return offset;
    }

    std::string key(std::uint64_t ref) {
        // Checked before decoding, so that a container in a key's place is never descended into.
        const std::uint8_t type = byte(offsetOf(ref)) >> 4;
        if (type != 0x5 && type != 0x6) fail("A dictionary key of the binary property list is not a string.");
        std::optional<PlistValue> k = object(ref, 0);
        return std::move(*std::get_if<std::string>(&k->storage()));
    }

    // Nothing for objects of no property-list kind (null, UID).
    std::optional<PlistValue> object(std::uint64_t ref, int depth) {
        std::uint64_t pos = offsetOf(ref);
        const std::uint8_t marker = byte(pos++);
        const unsigned info = marker & 0x0F;
        spend(0);
        switch (marker >> 4) {
            case 0x0:
                if (marker == 0x08) return PlistValue(false);
                if (marker == 0x09) return PlistValue(true);
                if (marker == 0x00) return std::nullopt;
                break;
            case 0x1: return integer(pos, info);
            case 0x2:
                if (info == 2) {
                    need(pos, 4);
                    return PlistValue(double(std::bit_cast<float>(std::uint32_t(uint(pos, 4)))));
                }
                if (info == 3) {
                    need(pos, 8);
                    return PlistValue(std::bit_cast<double>(uint(pos, 8)));
                }
                break;
            case 0x3:
                if (info == 3) {
                    need(pos, 8);
                    return PlistValue(PlistDate{std::bit_cast<double>(uint(pos, 8))});
                }
                break;
            case 0x4: {
                const std::uint64_t n = count(pos, info);
                need(pos, n);
                spend(n);
                const auto* p = reinterpret_cast<const std::uint8_t*>(b_.data() + pos);
                return PlistValue(PlistData(p, p + n));
            }
            case 0x5: {
                const std::uint64_t n = count(pos, info);
                need(pos, n);
                spend(n);
                std::string s(b_.substr(pos, n));
                for (char c : s)
                    if (static_cast<unsigned char>(c) >= 0x80) {
                        // Not ASCII after all: read the bytes as Latin-1.
                        std::string wide;
                        for (unsigned char ch : s) appendUtf8(wide, ch);
                        return PlistValue(std::move(wide));
                    }
                return PlistValue(std::move(s));
            }
            case 0x6: {
                const std::uint64_t n = count(pos, info);
                need(pos, n, 2);
                spend(3 * n);
                std::u16string units(n, u'\0');
                for (std::uint64_t i = 0; i < n; ++i) units[i] = static_cast<char16_t>(uint(pos + 2 * i, 2));
                std::string s;
                s.reserve(n);
                appendUtf16(s, units.data(), units.size());
                return PlistValue(std::move(s));
            }
            case 0x8: need(pos, info + 1); return std::nullopt;
            case 0xA: return array(ref, pos, info, depth + 1);
            case 0xC:
                // Not one of our kinds, and leaving it out would lose its members without a word.
                fail("The binary property list holds a set, which a job file cannot hold.");
            case 0xD: return dictionary(ref, pos, info, depth + 1);
        }
        fail("The binary property list holds an object of unknown type.");
    }

    PlistValue integer(std::uint64_t pos, unsigned info) const {
        if (info > 4) fail("An integer of the binary property list has an unknown size.");
        const unsigned n = 1u << info;
        need(pos, n);
        if (n < 16) return PlistValue(static_cast<std::int64_t>(uint(pos, n)));  // 8 bytes are signed
        // Sixteen bytes: unsigned up to 2^64-1 as the platform reads them, or a sign-extended negative
        // value; what lies beyond those we cannot keep without changing it.
        const std::uint64_t high = uint(pos, 8), low = uint(pos + 8, 8);
        if (high == 0) return PlistValue(low);
        if (high == ~std::uint64_t(0) && low >= (std::uint64_t(1) << 63)) return PlistValue(static_cast<std::int64_t>(low));
        fail("An integer of the binary property list lies outside the 64-bit range.");
    }

    void enter(std::uint64_t ref, int depth) {
        if (depth > PlistCodec::maxDepth) fail("The binary property list is nested too deeply.");
        if (active_[ref]) fail("The binary property list contains itself.");
        active_[ref] = true;
    }

    PlistValue array(std::uint64_t ref, std::uint64_t pos, unsigned info, int depth) {
        const std::uint64_t n = count(pos, info);
        need(pos, n, refSize_);
        enter(ref, depth);
        PlistArray items;
        items.reserve(n);
        for (std::uint64_t i = 0; i < n; ++i)
            if (auto item = object(uint(pos + i * refSize_, refSize_), depth)) items.push_back(std::move(*item));
        active_[ref] = false;
        return PlistValue(std::move(items));
    }

    PlistValue dictionary(std::uint64_t ref, std::uint64_t pos, unsigned info, int depth) {
        const std::uint64_t n = count(pos, info);
        if (n > std::numeric_limits<std::uint64_t>::max() / 2) fail("A dictionary of the binary property list is damaged.");
        need(pos, 2 * n, refSize_);
        enter(ref, depth);
        std::vector<PlistDictionary::Entry> entries;
        entries.reserve(n);
        for (std::uint64_t i = 0; i < n; ++i) {
            std::string k = key(uint(pos + i * refSize_, refSize_));
            if (auto value = object(uint(pos + (n + i) * refSize_, refSize_), depth))
                entries.emplace_back(std::move(k), std::move(*value));
        }
        active_[ref] = false;
        return PlistValue(PlistDictionary::fromEntries(std::move(entries)));
    }

    std::string_view b_;
    unsigned offsetSize_ = 0, refSize_ = 0;
    std::uint64_t objectCount_ = 0, tableOffset_ = 0;
    std::uint64_t objectBudget_ = 0, byteBudget_ = 0;
    std::vector<bool> active_;
};

}  // namespace

PlistCodec::Parsed readBinaryPlist(std::string_view bytes) { return BinaryReader(bytes).read(); }

}  // namespace qw::detail
