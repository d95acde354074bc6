#include "wire.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace kbc::emulated {
namespace {

using Fields = std::map<std::string, std::string, std::less<>>;

template <typename Int>
std::optional<Int> number(const Fields& fields, std::string_view key, int base) {
  const auto found = fields.find(key);
  if (found == fields.end()) {
    return std::nullopt;
  }
  const std::string& text = found->second;
  Int value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::string> text(const Fields& fields, std::string_view key) {
  const auto found = fields.find(key);
  if (found == fields.end()) {
    return std::nullopt;
  }
  return found->second;
}

std::optional<std::vector<std::uint8_t>> bytes(const Fields& fields, std::string_view key) {
  const auto found = fields.find(key);
  if (found == fields.end() || found->second.size() % 2 != 0) {
    return std::nullopt;
  }
  const std::string& digits = found->second;
  std::vector<std::uint8_t> result;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    std::uint8_t byte = 0;
    const auto [end, error] = std::from_chars(digits.data() + i, digits.data() + i + 2, byte, 16);
    if (error != std::errc() || end != digits.data() + i + 2) {
      return std::nullopt;
    }
    result.push_back(byte);
  }
  return result;
}

// Splits "kind key=value key=value"; nullopt when a field has no "=".
std::optional<std::pair<std::string, Fields>> split(std::string_view line) {
  std::istringstream words{std::string(line)};
  std::string kind;
  if (!(words >> kind)) {
    return std::nullopt;
  }
  Fields fields;
  std::string word;
  while (words >> word) {
    const auto equals = word.find('=');
    if (equals == std::string::npos) {
      return std::nullopt;
    }
    fields[word.substr(0, equals)] = word.substr(equals + 1);
  }
  return std::pair{kind, fields};
}

std::optional<ControlLine> control(const Fields& f) {
  auto step = number<int>(f, "step", 10);
  auto node = text(f, "node");
  auto vendor = number<std::uint16_t>(f, "vendor", 16);
  auto type = number<std::uint8_t>(f, "type", 16);
  auto request = number<std::uint8_t>(f, "request", 16);
  auto value = number<std::uint16_t>(f, "value", 16);
  auto index = number<std::uint16_t>(f, "index", 16);
  auto length = number<std::uint16_t>(f, "length", 10);
  auto timeout = number<std::uint32_t>(f, "timeout", 10);
  auto result = number<int>(f, "result", 10);
  auto data = bytes(f, "data");
  if (!step || !node || !vendor || !type || !request || !value || !index || !length || !timeout ||
      !result || !data) {
    return std::nullopt;
  }
  return ControlLine{*step,  *node,   *vendor,  *type,   *request,        *value,
                     *index, *length, *timeout, *result, std::move(*data)};
}

std::optional<IoctlLine> ioctl(const Fields& f) {
  auto step = number<int>(f, "step", 10);
  auto node = text(f, "node");
  auto vendor = number<std::uint16_t>(f, "vendor", 16);
  auto name = text(f, "name");
  auto result = number<int>(f, "result", 10);
  if (!step || !node || !vendor || !name || !result) {
    return std::nullopt;
  }
  std::optional<long> arg;
  if (f.contains("arg")) {
    arg = number<long>(f, "arg", 10);
    if (!arg) {
      return std::nullopt;
    }
  }
  return IoctlLine{*step, *node, *vendor, *name, arg, *result};
}

std::optional<UeventLine> uevent(const Fields& f) {
  auto step = number<int>(f, "step", 10);
  auto node = text(f, "node");
  auto vendor = number<std::uint16_t>(f, "vendor", 16);
  auto action = text(f, "action");
  if (!step || !node || !vendor || !action) {
    return std::nullopt;
  }
  return UeventLine{*step, *node, *vendor, *action};
}

std::optional<ExitLine> exit_line(const Fields& f) {
  auto step = number<int>(f, "step", 10);
  auto status = number<int>(f, "status", 10);
  if (!step || !status) {
    return std::nullopt;
  }
  return ExitLine{*step, *status};
}

}  // namespace

std::string hex(const std::vector<std::uint8_t>& bytes) {
  std::string result;
  char digits[3];
  for (const std::uint8_t byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", byte);
    result += digits;
  }
  return result;
}

std::string format(const ControlLine& l) {
  char head[256];
  std::snprintf(head, sizeof head,
                "control step=%d node=%s vendor=%04x type=%02x request=%02x value=%04x index=%04x "
                "length=%u timeout=%u result=%d data=",
                l.step, l.node.c_str(), l.vendor, l.type, l.request, l.value, l.index, l.length,
                l.timeout, l.result);
  return head + hex(l.data);
}

std::string format(const IoctlLine& l) {
  char line[256];
  if (l.arg) {
    std::snprintf(line, sizeof line, "ioctl step=%d node=%s vendor=%04x name=%s arg=%ld result=%d",
                  l.step, l.node.c_str(), l.vendor, l.name.c_str(), *l.arg, l.result);
  } else {
    std::snprintf(line, sizeof line, "ioctl step=%d node=%s vendor=%04x name=%s result=%d", l.step,
                  l.node.c_str(), l.vendor, l.name.c_str(), l.result);
  }
  return line;
}

std::string format(const UeventLine& l) {
  char line[128];
  std::snprintf(line, sizeof line, "uevent step=%d node=%s vendor=%04x action=%s", l.step,
                l.node.c_str(), l.vendor, l.action.c_str());
  return line;
}

std::string format(const ExitLine& l) {
  return "exit step=" + std::to_string(l.step) + " status=" + std::to_string(l.status);
}

std::optional<Wire> parse_wire(std::string_view text) {
  Wire wire;
  std::istringstream lines{std::string(text)};
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) {
      continue;
    }
    auto parts = split(line);
    if (!parts) {
      return std::nullopt;
    }
    const auto& [kind, fields] = *parts;
    if (kind == "control") {
      auto parsed = control(fields);
      if (!parsed) {
        return std::nullopt;
      }
      wire.controls.push_back(std::move(*parsed));
    } else if (kind == "ioctl") {
      auto parsed = ioctl(fields);
      if (!parsed) {
        return std::nullopt;
      }
      wire.ioctls.push_back(std::move(*parsed));
    } else if (kind == "uevent") {
      auto parsed = uevent(fields);
      if (!parsed) {
        return std::nullopt;
      }
      wire.uevents.push_back(std::move(*parsed));
    } else if (kind == "exit") {
      auto parsed = exit_line(fields);
      if (!parsed) {
        return std::nullopt;
      }
      wire.exits.push_back(*parsed);
    } else {
      return std::nullopt;
    }
  }
  return wire;
}

std::optional<Wire> read_wire(const std::string& path) {
  std::ifstream file(path);
  if (!file) {
    return std::nullopt;
  }
  std::ostringstream contents;
  contents << file.rdbuf();
  return parse_wire(contents.str());
}

}  // namespace kbc::emulated
