// The stand-in `osascript`: understands the one script the application sends, a `do shell script` with
// administrator privileges. There is no real root to gain in a sandbox, so after the (simulated)
// password prompt the command runs as the caller. QUILLWICK_PROMPT answers the prompt: "cancel" dismisses
// it, "fail" enters a wrong password, anything else (or nothing) accepts.
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "LinkedRoot.h"
#include "helperkit/Subprocess.h"

namespace {

struct Script {
    std::string command;
    bool administrator = false;
};

// Reads an AppleScript string literal starting just after its opening quote; undoes its escapes.
std::optional<std::string> readString(std::string_view text, std::size_t& at)
{
    std::string value;
    while (at < text.size()) {
        const char c = text[at++];
        if (c == '"')
            return value;
        if (c != '\\') {
            value += c;
            continue;
        }
        if (at == text.size())
            return std::nullopt;
        switch (const char escaped = text[at++]) {
        case '"':
        case '\\':
            value += escaped;
            break;
        case 'n':
            value += '\n';
            break;
        case 'r':
            value += '\r';
            break;
        case 't':
            value += '\t';
            break;
        default:
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool take(std::string_view text, std::size_t& at, std::string_view word)
{
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    if (text.substr(at, word.size()) != word)
        return false;
    at += word.size();
    return true;
}

// `do shell script "<cmd>"`, then "with administrator privileges" and "with prompt "<text>"" in
// either order, each optional.
std::optional<Script> parse(std::string_view text)
{
    std::size_t at = 0;
    Script script;
    if (!take(text, at, "do shell script \""))
        return std::nullopt;
    auto command = readString(text, at);
    if (!command)
        return std::nullopt;
    script.command = std::move(*command);
    bool prompt = false;
    while (true) {
        const std::size_t before = at;
        if (!script.administrator && take(text, at, "with administrator privileges")) {
            script.administrator = true;
            continue;
        }
        at = before;
        if (!prompt && take(text, at, "with prompt \"")) {
            if (!readString(text, at))
                return std::nullopt;
            prompt = true;
            continue;
        }
        at = before;
        break;
    }
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n'))
        ++at;
    if (at != text.size())
        return std::nullopt;
    return script;
}

// `do shell script` strips one trailing line end and turns the others into returns.
std::string asResult(std::string text)
{
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    for (char& c : text)
        if (c == '\n')
            c = '\r';
    return text;
}

// Errors name the script's range in characters, as the real tool does.
std::string range(std::string_view script)
{
    std::size_t characters = 0;
    for (unsigned char c : script)
        if ((c & 0xC0) != 0x80)
            ++characters;
    return "0:" + std::to_string(characters) + ": ";
}

int executionError(std::string_view script, const std::string& message, int number)
{
    std::cerr << range(script) << "execution error: " << message << " (" << number << ")\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    qw::adoptLinkedRoot(argv[0], "/usr/bin/osascript");
    if (argc != 3 || std::string_view(argv[1]) != "-e") {
        std::cerr << "usage: osascript [-l language] [-e script] [-i] [-s {ehso}] [programfile] [argument ...]\n";
        return 1;
    }
    const std::string_view text = argv[2];
    const auto script = parse(text);
    if (!script) {
        std::cerr << range(text) << "syntax error: Expected end of line but found unknown token. (-2741)\n";
        return 1;
    }

    if (script->administrator) {
        const char* answer = std::getenv("QUILLWICK_PROMPT");
        const std::string_view prompt = answer ? answer : "";
        if (prompt == "cancel")
            return executionError(text, "User canceled.", -128);
        if (prompt == "fail")
            return executionError(text, "The administrator user name or password was incorrect.", -60005);
    }

    qw::Subprocess::Result result;
    try {
        result = qw::Subprocess::run("/bin/sh", {"-c", script->command});
    } catch (const qw::Subprocess::Failure& failure) {
        return executionError(text, failure.what(), 1);
    }
    if (result.exitStatus != 0) {
        // What the command printed before failing still reaches the caller (the helper's refusal reply).
        if (!result.standardOutput.empty())
            std::cout << asResult(result.standardOutput) << '\n';
        std::string message = asResult(result.standardError);
        if (message.empty())
            message = "The command exited with a non-zero status.";
        return executionError(text, message, result.exitStatus);
    }
    std::cout << asResult(result.standardOutput) << '\n';
    return 0;
}
