#pragma once

// Text forms of the virtual instrument's options, as the kestrova-sim command line takes them.

#include <string>
#include <string_view>
#include <vector>

#include "sim/virtual_instrument.hpp"

namespace kestrova::sim {

// Applies one fault description to `faults`. Forms (N a count, S seconds of simulated time,
// MS milliseconds of real time, CODE an optional command code such as 0x30 that limits the fault
// to that command):
//   silent[=N][@CODE]           no reply (always, or to the next N frames)
//   short[=N][@CODE]            replies lose their last byte
//   highbyte[=N]                block replies carry a high byte of 16
//   bad-echo=N[@CODE]           the next N writes answer a wrong echo ("bad-echo" alone: always)
//   late:MS[=N][@CODE]          replies start MS late
//   stall:B[:MS][=N][@CODE]     replies stop after B bytes; the rest follows MS later, or never
//   unstable:ADDR[=N]           reads of register ADDR (bank 0) alternate right and wrong, for N
//                               wrong reads (always without N)
//   unplug-at=S, replug-at=S    the device node goes at S seconds and comes back
//   cable-out-at=S, cable-in-at=S  the line goes silent (the node stays) and answers again
// Returns false with a message in `error` when the text is not one of these.
bool apply_fault_text(std::string_view fault_text, FaultSchedule& faults, std::string& error);

bool parse_factory_kind(std::string_view text, FactoryRecordKind& kind);
bool parse_pacing(std::string_view text, Pacing& pacing);
// "clock" or "scan".
bool parse_time_mode(std::string_view text, TimeMode& mode);
// "34,40-47" or "34,40-47@60": flooded channels and the simulated second they flood at (0 without
// it); the factor is left as it is.
bool parse_saturation(std::string_view text, Saturation& saturation, std::string& error);

// "12:1600,40-41:15": beams that read a fixed level (0 to 4095) at every setting.
bool parse_fixed_beams(std::string_view text, std::vector<FixedBeam>& beams, std::string& error);

// "3,5,10-12" -> {3, 5, 10, 11, 12}. False on anything else (an empty text gives no wells).
bool parse_well_list(std::string_view text, std::vector<int>& wells, std::string& error);

} // namespace kestrova::sim
