#include "system/proc_text_linux.h"

#include <charconv>

#include "common/saturating.h"

namespace qm {

namespace {

bool parse_unsigned(std::string_view text, std::uint64_t& value) {
  if (text.empty()) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// Splits at runs of spaces, tabs and line feeds; returns false when nothing is
// left. A field is never empty, so a caller that loops always moves on (a line
// feed skipped only at the end of a field would be found again and again).
bool next_field(std::string_view& rest, std::string_view& field) {
  std::size_t start = rest.find_first_not_of(" \t\n");
  if (start == std::string_view::npos) return false;
  std::size_t end = rest.find_first_of(" \t\n", start);
  if (end == std::string_view::npos) end = rest.size();
  field = rest.substr(start, end - start);
  rest.remove_prefix(end);
  return true;
}

// Calls fn(line) for every line of text, without its line feed.
template <class Fn>
void for_each_line(std::string_view text, Fn&& fn) {
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!fn(line)) return;
    if (end == std::string_view::npos) return;
    text.remove_prefix(end + 1);
  }
}

// The number after a "Key:" prefix, e.g. "MemTotal:   16 kB" gives 16.
std::optional<std::uint64_t> first_number_after(std::string_view line, std::string_view key) {
  if (!line.starts_with(key)) return std::nullopt;
  std::string_view rest = line.substr(key.size());
  std::string_view field;
  std::uint64_t value = 0;
  if (!next_field(rest, field) || !parse_unsigned(field, value)) return std::nullopt;
  return value;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<ProcStat> parse_proc_stat(std::string_view text) {
  const std::size_t open = text.find('(');
  const std::size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return std::nullopt;

  ProcStat stat;
  stat.name = text.substr(open + 1, close - open - 1);
  std::string_view rest = text.substr(close + 1);
  std::string_view field;
  // Field numbers as the proc(5) manual counts them: 3 is the state.
  for (int number = 3; number <= 24; ++number) {
    if (!next_field(rest, field)) return std::nullopt;
    switch (number) {
      case 3:
        if (field.size() != 1) return std::nullopt;
        stat.state = field[0];
        break;
      case 4:
        if (!parse_unsigned(field, stat.parent_pid)) return std::nullopt;
        break;
      case 14:
        if (!parse_unsigned(field, stat.user_ticks)) return std::nullopt;
        break;
      case 15:
        if (!parse_unsigned(field, stat.system_ticks)) return std::nullopt;
        break;
      case 22:
        if (!parse_unsigned(field, stat.start_ticks)) return std::nullopt;
        break;
      case 24:
        // A signed count; a negative one (never seen in practice) reads as 0.
        if (!field.starts_with('-') && !parse_unsigned(field, stat.resident_pages)) return std::nullopt;
        break;
      default:
        break;
    }
  }
  return stat;
}

std::optional<std::uint32_t> parse_status_real_user_id(std::string_view text) {
  std::optional<std::uint32_t> user_id;
  for_each_line(text, [&](std::string_view line) {
    auto value = first_number_after(line, "Uid:");
    if (!value) return true;
    if (*value <= UINT32_MAX) user_id = static_cast<std::uint32_t>(*value);
    return false;
  });
  return user_id;
}

std::optional<std::uint64_t> parse_status_thread_group_id(std::string_view text) {
  std::optional<std::uint64_t> group;
  for_each_line(text, [&](std::string_view line) {
    group = first_number_after(line, "Tgid:");
    return !group;
  });
  return group;
}

MemoryInfo parse_meminfo(std::string_view text) {
  MemoryInfo info;
  bool have_total = false;
  bool have_available = false;
  for_each_line(text, [&](std::string_view line) {
    if (auto total = first_number_after(line, "MemTotal:")) {
      info.total = *total > UINT64_MAX / 1024 ? UINT64_MAX : *total * 1024;
      have_total = true;
    } else if (auto available = first_number_after(line, "MemAvailable:")) {
      info.available = *available > UINT64_MAX / 1024 ? UINT64_MAX : *available * 1024;
      have_available = true;
    }
    return !(have_total && have_available);
  });
  return info;
}

KernelStat parse_kernel_stat(std::string_view text) {
  KernelStat stat;
  for_each_line(text, [&](std::string_view line) {
    if (line.starts_with("cpu") && line.size() > 3 && line[3] >= '0' && line[3] <= '9') {
      std::string_view rest = line.substr(3);
      std::string_view field;
      next_field(rest, field);  // the CPU number
      // user nice system idle iowait irq softirq steal guest guest_nice
      std::uint64_t values[8] = {};
      int count = 0;
      while (count < 8 && next_field(rest, field) && parse_unsigned(field, values[count])) ++count;
      if (count < 4) return true;  // not a tick line after all
      CpuTicks ticks;
      for (int i : {0, 1, 2, 5, 6, 7}) ticks.busy = saturating_add(ticks.busy, values[i]);
      ticks.total = saturating_add(saturating_add(ticks.busy, values[3]), values[4]);
      stat.cpus.push_back(ticks);
    } else if (auto boot_time = first_number_after(line, "btime")) {
      stat.boot_time = boot_time;
    }
    return true;
  });
  return stat;
}

std::string unescape_mount_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '3' &&
        text[i + 2] >= '0' && text[i + 2] <= '7' && text[i + 3] >= '0' && text[i + 3] <= '7') {
      out.push_back(static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::optional<MountInfoEntry> parse_mountinfo_line(std::string_view line) {
  // id parent major:minor root mount-point options [optional fields...] - type source super-options
  std::string_view rest = line;
  std::string_view field;
  for (int i = 0; i < 4; ++i) {
    if (!next_field(rest, field)) return std::nullopt;
  }
  if (!next_field(rest, field)) return std::nullopt;
  MountInfoEntry entry;
  entry.mount_point = unescape_mount_text(field);
  for (;;) {
    if (!next_field(rest, field)) return std::nullopt;
    if (field == "-") break;
  }
  if (!next_field(rest, field)) return std::nullopt;
  entry.type = std::string(field);
  if (next_field(rest, field)) entry.source = unescape_mount_text(field);
  return entry;
}

std::optional<std::string> parse_os_release_pretty_name(std::string_view text) {
  std::optional<std::string> name;
  for_each_line(text, [&](std::string_view line) {
    constexpr std::string_view key = "PRETTY_NAME=";
    if (!line.starts_with(key)) return true;
    std::string_view value = line.substr(key.size());
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r')) {
      value.remove_suffix(1);
    }
    std::string out;
    // Shell-style: double quotes with backslash escapes, single quotes taken literally.
    char quote = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
      char c = value[i];
      if (quote == 0 && (c == '"' || c == '\'')) {
        quote = c;
      } else if (quote != 0 && c == quote) {
        quote = 0;
      } else if (c == '\\' && quote != '\'' && i + 1 < value.size()) {
        out.push_back(value[++i]);
      } else {
        out.push_back(c);
      }
    }
    name = std::move(out);
    return true;  // a later assignment wins, as in a shell
  });
  if (name && name->empty()) return std::nullopt;
  return name;
}

std::string unescape_udev_name(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
      int high = hex_digit(text[i + 2]);
      int low = hex_digit(text[i + 3]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 3;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

}  // namespace qm
