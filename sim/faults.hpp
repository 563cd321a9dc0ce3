#pragma once

// Faults the virtual instrument shows on demand. Every rule can be changed at any time, also
// while a PtyServer serves the instrument (through with_instrument).

#include <array>
#include <cstdint>
#include <optional>

namespace kestrova::sim {

// One fault rule. count: 0 = off, n > 0 = the next n matching frames, kAlways = every one.
// code / qualifier: when not -1, only frames whose third byte (the command code, or the register
// of a write) / second byte match.
struct Fault {
  static constexpr int kAlways = -1;
  int count = 0;
  int code = -1;
  int qualifier = -1;

  bool active() const { return count != 0; }
  bool matches(const std::array<std::uint8_t, 5>& frame) const;
  // True when the rule applies to this frame; uses up one of its count.
  bool take(const std::array<std::uint8_t, 5>& frame);
};

// A rule for the setting writes of one channel (0 to 383): with bad_echo, a channel whose writes
// are never acknowledged.
Fault channel_write_fault(int channel, int count = Fault::kAlways);

// Matching replies leave the line only `delay_ms` after their frame came.
struct LateReply {
  Fault when;
  double delay_ms = 100.0;
};

// Matching replies longer than `after_bytes` stop after that many bytes; the rest follows
// `pause_ms` later, or never when there is no pause.
struct StalledReply {
  Fault when;
  int after_bytes = 96;
  std::optional<double> pause_ms;
};

// A register whose reads disagree: reads of (bank, address) alternate between the true value and
// the value with its lowest bit flipped, starting with the true one, until `wrong_reads` wrong
// values were given (Fault::kAlways: for ever). Address -1 switches it off. A reader that reads
// twice and wants agreement therefore sees `wrong_reads` disagreeing pairs, then agreement.
struct UnstableRegister {
  int bank = 0;
  int address = -1;
  int wrong_reads = Fault::kAlways;
  bool wrong_next = false; // the way the next read goes

  bool active() const { return address >= 0 && wrong_reads != 0; }
};

struct FaultSchedule {
  Fault silent;      // matching frames are swallowed: no effect, no reply
  Fault short_reply; // matching replies lose their last byte (a block arrives as 191 bytes)
  Fault high_byte;   // matching block replies carry a value whose high byte is 16
  Fault bad_echo;    // matching write frames answer a wrong echo and change nothing
  LateReply late;
  StalledReply stall;
  UnstableRegister unstable;
  // The device node disappears (the pty closes: the open port reads end of line) from unplug_at
  // to replug_at, in simulated seconds.
  std::optional<double> unplug_at;
  std::optional<double> replug_at;
  // The cable is pulled but the node stays: every frame is swallowed, the port stays open and
  // quiet. Now (cable_out) or from cable_out_at to cable_in_at, in simulated seconds.
  bool cable_out = false;
  std::optional<double> cable_out_at;
  std::optional<double> cable_in_at;
};

// Whether a scheduled stretch [from, until) covers time t; without `until` it never ends.
bool within(const std::optional<double>& from, const std::optional<double>& until, double t);

} // namespace kestrova::sim
