// How the key editor reads a catalogue key's stored value into the kind its control shows, and writes
// the control's value back. Each setter replaces the whole entry of the draft; showing never writes.
// A stored value of the wrong kind reads as that kind's empty value and is replaced on the first change.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Quillwick/launchd/CalendarInterval.h"
#include "Quillwick/launchd/JobDefinition.h"
#include "Quillwick/launchd/KeepAlive.h"
#include "Quillwick/launchd/LaunchdSchema.h"

namespace qw::KeyValues {

using TextDictionary = std::map<std::string, std::string>;

// Which control a key gets. `list` also serves a several-valued key whose picker could hold only one.
enum class Control { text, picker, path, integer, toggle, list, textDictionary, integerDictionary, calendar, keepAlive, readOnly };
Control controlFor(const LaunchdSchema::Key& key, const JobDefinition& definition);
// Rows of a list are path fields (every list shape but stringArray, and not for a list of choices).
bool listHoldsPaths(const LaunchdSchema::Key& key);
// The chooser picks folders: WorkingDirectory, RootDirectory and QueueDirectories name folders.
bool wantsDirectory(const LaunchdSchema::Key& key);

std::string text(const JobDefinition& d, const LaunchdSchema::Key& key);
void setText(JobDefinition& d, const LaunchdSchema::Key& key, const std::string& value);

bool boolean(const JobDefinition& d, const LaunchdSchema::Key& key);
void setBoolean(JobDefinition& d, const LaunchdSchema::Key& key, bool value);

// An integer from −2^63 to 2^64−1 (a real truncated toward zero), or 0.
PlistValue integer(const JobDefinition& d, const LaunchdSchema::Key& key);
void setInteger(JobDefinition& d, const LaunchdSchema::Key& key, const PlistValue& value);
// Why launchd would ignore the number under this key ("Must be 1 or more"), or nothing when it takes it.
std::optional<std::string> integerProblem(const LaunchdSchema::Key& key, const PlistValue& number);

std::vector<std::string> list(const JobDefinition& d, const LaunchdSchema::Key& key);
// A stringOrStringArray stored as one string stays one string while the list has one element.
void setList(JobDefinition& d, const LaunchdSchema::Key& key, const std::vector<std::string>& values);

TextDictionary textDictionary(const JobDefinition& d, const LaunchdSchema::Key& key);
void setTextDictionary(JobDefinition& d, const LaunchdSchema::Key& key, const TextDictionary& entries);

// Integers (reals truncated) as decimal texts; entries of other kinds left out.
TextDictionary editorValue(const PlistDictionary& stored);
// Texts that read as decimal integers become integers; the others are left out.
PlistDictionary plistValue(const TextDictionary& entries);
TextDictionary integerDictionary(const JobDefinition& d, const LaunchdSchema::Key& key);
void setIntegerDictionary(JobDefinition& d, const LaunchdSchema::Key& key, const TextDictionary& entries);

KeepAlive keepAlive(const JobDefinition& d);
void setKeepAlive(JobDefinition& d, const KeepAlive& value);

// The read-only row: the value's summary, or an em dash when the key is absent.
std::string readOnlyText(const JobDefinition& d, const LaunchdSchema::Key& key);

}  // namespace qw::KeyValues
