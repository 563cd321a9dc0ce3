#include "sim/sim_options.hpp"

#include <charconv>
#include <cstdlib>

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
  return end == copy.c_str() + copy.size() && seconds >= 0.0;
}

} // namespace

bool apply_fault_text(std::string_view fault_text, FaultSchedule& faults, std::string& error) {
  std::string_view name = fault_text;
  std::string_view value;
  std::string_view code_text;
  if (const auto at = name.find('@'); at != std::string_view::npos) {
    code_text = name.substr(at + 1);
    name = name.substr(0, at);
  }
  if (const auto eq = name.find('='); eq != std::string_view::npos) {
    value = name.substr(eq + 1);
    name = name.substr(0, eq);
  }
  error.clear();
  if (name == "unplug-at" || name == "replug-at") {
    double seconds = 0.0;
    if (!code_text.empty() || !parse_seconds(value, seconds)) {
      error = "fault " + std::string(name) + " needs a number of seconds, e.g. " +
              std::string(name) + "=30";
      return false;
    }
    (name == "unplug-at" ? faults.unplug_at : faults.replug_at) = seconds;
    return true;
  }
  Fault* fault = nullptr;
  if (name == "silent") fault = &faults.silent;
  if (name == "short") fault = &faults.short_reply;
  if (name == "highbyte") fault = &faults.high_byte;
  if (name == "bad-echo") fault = &faults.bad_echo;
  if (fault == nullptr) {
    error = "unknown fault '" + std::string(fault_text) +
            "' (silent, short, highbyte, bad-echo, unplug-at, replug-at)";
    return false;
  }
  Fault parsed;
  parsed.count = Fault::kAlways;
  if (!value.empty() && (!parse_int(value, parsed.count) || parsed.count < 1)) {
    error = "fault " + std::string(name) + ": count must be a whole number from 1";
    return false;
  }
  if (!code_text.empty() && !parse_code(code_text, parsed.code)) {
    error = "fault " + std::string(name) + ": command code must be 0 to 255 (e.g. 0x30)";
    return false;
  }
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
  wells.clear();
  error.clear();
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
    if (!ok || first < 0 || last < first || last >= kChannelCount) {
      error = "invalid well list item '" + std::string(item) + "' (wells 0 to 383, e.g. 0,5,10-12)";
      wells.clear();
      return false;
    }
    for (int w = first; w <= last; ++w)
      wells.push_back(w);
  }
  return true;
}

} // namespace kestrova::sim
