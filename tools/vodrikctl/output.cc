#include "tools/vodrikctl/output.h"

#include <algorithm>
#include <cmath>

namespace vodrikctl {
namespace {

// Columns a UTF-8 text takes on a terminal, counting one per code point (wide East Asian
// characters are counted as one: close enough for alignment of the names seen here).
size_t Width(std::string_view text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string Visible(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02x", c);
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

void PrintTable(FILE* out, const Cells& header, const std::vector<Cells>& rows) {
  std::vector<Cells> shown;
  shown.reserve(rows.size() + 1);
  shown.push_back(header);
  for (const Cells& row : rows) {
    Cells cells;
    for (const std::string& cell : row) cells.push_back(Visible(cell));
    shown.push_back(std::move(cells));
  }
  std::vector<size_t> widths(header.size(), 0);
  for (const Cells& row : shown)
    for (size_t i = 0; i < row.size() && i < widths.size(); ++i) widths[i] = std::max(widths[i], Width(row[i]));
  for (const Cells& row : shown) {
    std::string line;
    for (size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line.append(widths[i] - Width(row[i]) + 2, ' ');
    }
    std::fprintf(out, "%s\n", line.c_str());
  }
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string JsonValue(const VARIANT& value) {
  switch (value.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return "null";
    case VT_BOOL:
      return value.boolVal ? "true" : "false";
    case VT_I2:
    case VT_I4:
      return Text(value);
    case VT_R4:
    case VT_R8:
      return std::isfinite(value.vt == VT_R8 ? value.dblVal : value.fltVal) ? Text(value) : "null";
    default:
      return JsonString(Text(value));
  }
}

std::string JsonObject(const std::vector<Property>& properties) {
  std::string out = "{";
  for (size_t i = 0; i < properties.size(); ++i) {
    if (i) out += ", ";
    out += JsonString(properties[i].name) + ": " + JsonValue(properties[i].value);
  }
  return out + "}";
}

void PrintRecord(FILE* out, const std::vector<Property>& properties, bool json) {
  if (json) {
    std::fprintf(out, "%s\n", JsonObject(properties).c_str());
    return;
  }
  std::vector<Cells> rows;
  for (const Property& p : properties) rows.push_back({p.name, Text(p.value)});
  PrintTable(out, {"PROPERTY", "VALUE"}, rows);
}

void PrintRecords(FILE* out, const std::vector<std::vector<Property>>& records, const Cells& columns, bool json) {
  if (json) {
    std::fprintf(out, "[");
    for (size_t i = 0; i < records.size(); ++i)
      std::fprintf(out, "%s\n %s", i ? "," : "", JsonObject(records[i]).c_str());
    std::fprintf(out, "%s]\n", records.empty() ? "" : "\n");
    return;
  }
  Cells header = columns;
  if (header.empty() && !records.empty())
    for (const Property& p : records.front()) header.push_back(p.name);
  std::vector<Cells> rows;
  for (const auto& record : records) {
    Cells row;
    for (const std::string& column : header) {
      const VARIANT* value = Find(record, column);
      row.push_back(value ? Text(*value) : std::string());
    }
    rows.push_back(std::move(row));
  }
  if (!header.empty()) PrintTable(out, header, rows);
}

}  // namespace vodrikctl
