#include "sim/sim_options.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace kestrova::sim {
namespace {

bool parse_int(std::string_view text, int& value, int base = 10) {
  if (text.empty()) return false;
  const auto* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value, base);
  return result.ec == std::errc() && result.ptr == end;
}

bool parse_code(std::string_view text, int& code) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  return parse_int(text, code, base) && code >= 0 && code <= 255;
}

bool parse_seconds(std::string_view text, double& seconds) {
  if (text.empty()) return false;
  const std::string copy(text);
  char* end = nullptr;
  seconds = std::strtod(copy.c_str(), &end);
  return end == copy.c_str() + copy.size() && std::isfinite(seconds) && seconds >= 0.0;
}

// "3,5,10-12" -> {3, 5, 10, 11, 12}, every number 0 to `last_allowed`; an empty text gives none.
// On failure `bad_item` (when given) is the item that failed.
bool parse_number_list(std::string_view text, int last_allowed, std::vector<int>& numbers,
                       std::string_view* bad_item = nullptr) {
  numbers.clear();
  while (!text.empty()) {
    const auto comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    int first = 0;
    int last = 0;
    const auto dash = item.find('-');
    const bool ok = dash == std::string_view::npos ? parse_int(item, first) && (last = first, true)
                                                   : parse_int(item.substr(0, dash), first) &&
                                                         parse_int(item.substr(dash + 1), last);
    if (!ok || first < 0 || last < first || last > last_allowed) {
      numbers.clear();
      if (bad_item) *bad_item = item;
      return false;
    }
    for (int n = first; n <= last; ++n)
      numbers.push_back(n);
  }
  return true;
}

} // namespace

namespace {

// A fault text taken apart: NAME[:PARAM[:PARAM]][=VALUE][@CODE].
struct FaultText {
  std::string_view name;
  std::vector<std::string_view> params;
  std::string_view value;
  std::string_view code;
};

FaultText split_fault_text(std::string_view text) {
  FaultText parts;
  if (const auto at = text.find('@'); at != std::string_view::npos) {
    parts.code = text.substr(at + 1);
    text = text.substr(0, at);
  }
  if (const auto eq = text.find('='); eq != std::string_view::npos) {
    parts.value = text.substr(eq + 1);
    text = text.substr(0, eq);
  }
  auto colon = text.find(':');
  parts.name = text.substr(0, colon);
  while (colon != std::string_view::npos) {
    text = text.substr(colon + 1);
    colon = text.find(':');
    parts.params.push_back(text.substr(0, colon));
  }
  return parts;
}

bool parse_milliseconds(std::string_view text, double& ms) { return parse_seconds(text, ms); }

// The count and command filter of a rule: "=N" (default: always) and "@CODE".
bool parse_rule(const FaultText& parts, Fault& rule, std::string& error) {
  const std::string name(parts.name);
  rule = Fault{};
  rule.count = Fault::kAlways;
  if (!parts.value.empty() && (!parse_int(parts.value, rule.count) || rule.count < 1)) {
    error = "fault " + name + ": count must be a whole number from 1";
    return false;
  }
  if (!parts.code.empty() && !parse_code(parts.code, rule.code)) {
    error = "fault " + name + ": command code must be 0 to 255 (e.g. 0x30)";
    return false;
  }
  return true;
}

bool apply_scheduled(const FaultText& parts, FaultSchedule& faults, std::string& error) {
  const std::string name(parts.name);
  double seconds = 0.0;
  if (!parts.code.empty() || !parts.params.empty() || !parse_seconds(parts.value, seconds)) {
    error = "fault " + name + " needs a number of seconds, e.g. " + name + "=30";
    return false;
  }
  if (name == "unplug-at") faults.unplug_at = seconds;
  if (name == "replug-at") faults.replug_at = seconds;
  if (name == "cable-out-at") faults.cable_out_at = seconds;
  if (name == "cable-in-at") faults.cable_in_at = seconds;
  return true;
}

bool apply_late(const FaultText& parts, FaultSchedule& faults, std::string& error) {
  LateReply late;
  if (parts.params.size() != 1 || !parse_milliseconds(parts.params[0], late.delay_ms)) {
    error = "fault late needs its delay in ms, e.g. late:250 or late:250=3@0x30";
    return false;
  }
  if (!parse_rule(parts, late.when, error)) return false;
  faults.late = late;
  return true;
}

bool apply_stall(const FaultText& parts, FaultSchedule& faults, std::string& error) {
  StalledReply stall;
  double pause_ms = 0.0;
  const bool ok = (parts.params.size() == 1 || parts.params.size() == 2) &&
                  parse_int(parts.params[0], stall.after_bytes) && stall.after_bytes >= 0 &&
                  (parts.params.size() == 1 || parse_milliseconds(parts.params[1], pause_ms));
  if (!ok) {
    error = "fault stall needs the bytes sent before it stops and an optional pause in ms, e.g. "
            "stall:96 or stall:96:500@0x30";
    return false;
  }
  if (parts.params.size() == 2) stall.pause_ms = pause_ms;
  if (!parse_rule(parts, stall.when, error)) return false;
  faults.stall = stall;
  return true;
}

bool apply_unstable(const FaultText& parts, FaultSchedule& faults, std::string& error) {
  UnstableRegister unstable;
  const bool ok = parts.params.size() == 1 && parts.code.empty() &&
                  parse_code(parts.params[0], unstable.address) &&
                  (parts.value.empty() ||
                   (parse_int(parts.value, unstable.wrong_reads) && unstable.wrong_reads >= 1));
  if (!ok) {
    error = "fault unstable needs a register of bank 0 and an optional count of wrong reads, "
            "e.g. unstable:129 or unstable:129=2";
    return false;
  }
  faults.unstable = unstable;
  return true;
}

} // namespace

bool apply_fault_text(std::string_view fault_text, FaultSchedule& faults, std::string& error) {
  const FaultText parts = split_fault_text(fault_text);
  error.clear();
  const std::string_view name = parts.name;
  if (name == "unplug-at" || name == "replug-at" || name == "cable-out-at" ||
      name == "cable-in-at") {
    return apply_scheduled(parts, faults, error);
  }
  if (name == "late") return apply_late(parts, faults, error);
  if (name == "stall") return apply_stall(parts, faults, error);
  if (name == "unstable") return apply_unstable(parts, faults, error);
  Fault* fault = nullptr;
  if (name == "silent") fault = &faults.silent;
  if (name == "short") fault = &faults.short_reply;
  if (name == "highbyte") fault = &faults.high_byte;
  if (name == "bad-echo") fault = &faults.bad_echo;
  if (fault == nullptr || !parts.params.empty()) {
    error = "unknown fault '" + std::string(fault_text) +
            "' (silent, short, highbyte, bad-echo, late, stall, unstable, unplug-at, replug-at, "
            "cable-out-at, cable-in-at)";
    return false;
  }
  Fault parsed;
  if (!parse_rule(parts, parsed, error)) return false;
  *fault = parsed;
  return true;
}

bool parse_factory_kind(std::string_view text, FactoryRecordKind& kind) {
  if (text == "valid")
    kind = FactoryRecordKind::kValid;
  else if (text == "invalid")
    kind = FactoryRecordKind::kInvalid;
  else if (text == "blank")
    kind = FactoryRecordKind::kBlank;
  else
    return false;
  return true;
}

bool parse_time_mode(std::string_view text, TimeMode& mode) {
  if (text == "clock")
    mode = TimeMode::kClock;
  else if (text == "scan")
    mode = TimeMode::kPerScan;
  else
    return false;
  return true;
}

bool parse_saturation(std::string_view text, Saturation& saturation, std::string& error) {
  error.clear();
  std::string_view list = text;
  double at = 0.0;
  if (const auto sign = text.find('@'); sign != std::string_view::npos) {
    list = text.substr(0, sign);
    if (!parse_seconds(text.substr(sign + 1), at)) {
      error = "saturation time must be a number of seconds, e.g. 34,40-47@60";
      return false;
    }
  }
  std::vector<int> channels;
  if (list.empty() || !parse_number_list(list, kChannelCount - 1, channels)) {
    error = "invalid channel list '" + std::string(list) + "' (channels 0 to 383, e.g. 34,40-47)";
    return false;
  }
  saturation.channels = std::move(channels);
  saturation.at_seconds = at;
  return true;
}

bool parse_pacing(std::string_view text, Pacing& pacing) {
  if (text == "instant")
    pacing = Pacing::kInstant;
  else if (text == "line")
    pacing = Pacing::kLine;
  else
    return false;
  return true;
}

bool parse_well_list(std::string_view text, std::vector<int>& wells, std::string& error) {
  error.clear();
  std::string_view bad;
  if (parse_number_list(text, kChannelCount - 1, wells, &bad)) return true;
  error = "invalid well list item '" + std::string(bad) + "' (wells 0 to 383, e.g. 0,5,10-12)";
  return false;
}

bool parse_fixed_beams(std::string_view text, std::vector<FixedBeam>& beams, std::string& error) {
  error.clear();
  std::vector<FixedBeam> out;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    const std::size_t colon = item.find(':');
    std::vector<int> channels;
    double level = 0.0;
    if (colon == std::string_view::npos ||
        !parse_number_list(item.substr(0, colon), kChannelCount - 1, channels) ||
        channels.empty() || !parse_seconds(item.substr(colon + 1), level) || level > 4095.0) {
      error = "invalid fixed beam '" + std::string(item) +
              "' (CHANNELS:LEVEL, channels 0 to 383, level 0 to 4095, e.g. 12:1600,40-41:15)";
      return false;
    }
    for (int c : channels)
      out.push_back({c, level});
  }
  beams = std::move(out);
  return true;
}

} // namespace kestrova::sim
