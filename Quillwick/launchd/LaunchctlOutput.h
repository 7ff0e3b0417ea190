// LaunchctlOutput: launchctl's indented "key = value" / "key => value" text with brace-delimited blocks,
// read into a tree of blocks that the runtime-state and disabled-record readers query by key.
// Pure functions over values; any text parses into some tree. Nesting deeper than kMaxDepth is read
// past (the over-deep block stays empty), so hostile output cannot exhaust the stack here or in the
// tree's own copies, comparisons and destruction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qw::LaunchctlOutput {

// launchctl's own output nests a handful of levels; anything near this is not launchctl talking.
inline constexpr int kMaxDepth = 64;

enum class Separator { equals, arrow };  // " = " and " => "

struct Block;

// A scalar text or a nested block. The block is held on the heap so that the three types can refer to
// each other while each is still being declared.
class Value {
public:
    Value();
    static Value scalar(std::string text);
    static Value block(Block block);
    Value(const Value& other);
    Value(Value&& other) noexcept;
    Value& operator=(const Value& other);
    Value& operator=(Value&& other) noexcept;
    ~Value();

    bool isScalar() const { return !block_; }
    bool isBlock() const { return block_ != nullptr; }
    const std::string* scalarText() const { return block_ ? nullptr : &text_; }
    const Block* blockValue() const { return block_.get(); }

    std::size_t hash() const;
    bool operator==(const Value& other) const;

private:
    std::string text_;
    std::unique_ptr<Block> block_;
};

struct Entry {
    std::string key;
    Separator separator = Separator::equals;
    Value value;

    std::size_t hash() const;
    bool operator==(const Entry& other) const = default;
};

struct Block {
    std::vector<Entry> entries;      // in text order
    std::vector<std::string> items;  // lines that are not entries, trimmed, in text order

    // The first entry's value with that exact key.
    const Value* value(std::string_view key) const;
    // The text of a scalar value; nothing for a block or a missing key.
    std::optional<std::string> string(std::string_view key) const;
    // The nested block; nullptr for a scalar or a missing key.
    const Block* block(std::string_view key) const;
    // The nested block's items; empty for a scalar or a missing key.
    std::vector<std::string> itemList(std::string_view key) const;
    // The nested block's scalar entries (a repeated key: the later wins); empty otherwise.
    std::map<std::string, std::string> dictionary(std::string_view key) const;
    // The leading digits-and-"-" of a scalar read as a 64-bit decimal; nothing when that is not a
    // number or does not fit.
    std::optional<std::int64_t> integer(std::string_view key) const;

    std::size_t hash() const;
    bool operator==(const Block& other) const = default;
};

// The whole text as the top-level block.
Block parse(std::string_view text);
// One block from lines[index] on, up to and including its closing "}"; advances index. An "arguments"
// block is read by its indentation, its lines raw; an entry whose empty value runs on into the next
// entry or the closing "}" on the same line is split there.
Block parseBlock(const std::vector<std::string_view>& lines, std::size_t& index, int depth);
// The block of the first top-level entry (the "<domain>/<label> = {" wrapper of "print"), when there
// is one and its value is a block.
std::optional<Block> parseService(std::string_view text);

// The integer reading of a scalar text, as Block::integer does it.
std::optional<std::int64_t> integerPrefix(std::string_view text);

}  // namespace qw::LaunchctlOutput

template <>
struct std::hash<qw::LaunchctlOutput::Block> {
    std::size_t operator()(const qw::LaunchctlOutput::Block& b) const noexcept { return b.hash(); }
};
template <>
struct std::hash<qw::LaunchctlOutput::Value> {
    std::size_t operator()(const qw::LaunchctlOutput::Value& v) const noexcept { return v.hash(); }
};
template <>
struct std::hash<qw::LaunchctlOutput::Entry> {
    std::size_t operator()(const qw::LaunchctlOutput::Entry& e) const noexcept { return e.hash(); }
};
