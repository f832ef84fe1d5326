// What the program prints: aligned tables for people, JSON for scripts. Keys of the JSON objects
// are the property names of the interface description, so they stay as stable as the interfaces.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vodrikctl/automation.h"

namespace vodrikctl {

using Cells = std::vector<std::string>;

// Prints `rows` under `header`, each column as wide as its widest cell. Control characters in
// cells are shown escaped ("\n", "\x1b"), so a value cannot move the cursor or break a row.
void PrintTable(FILE* out, const Cells& header, const std::vector<Cells>& rows);

// A JSON string literal of UTF-8 `text`.
std::string JsonString(std::string_view text);
// A JSON value of a scalar: numbers as numbers (not finite: null), booleans, texts and dates as
// strings (Text's form).
std::string JsonValue(const VARIANT& value);
// {"Name": value, ...} in the properties' order.
std::string JsonObject(const std::vector<Property>& properties);

// One object: a two-column table (property, value), or a JSON object.
void PrintRecord(FILE* out, const std::vector<Property>& properties, bool json);
// Objects of one kind: a table with the given columns (all properties when `columns` is empty),
// or a JSON array of objects with every property.
void PrintRecords(FILE* out, const std::vector<std::vector<Property>>& records, const Cells& columns, bool json);

}  // namespace vodrikctl
