// kestrova-sim: serves the virtual instrument on a pseudo-terminal until SIGINT or SIGTERM.

#include <CLI/CLI.hpp>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sim/pty_server.hpp"
#include "sim/sim_options.hpp"

#include "store/plate_format.hpp"

namespace {

using kestrova::sim::InstrumentOptions;
using kestrova::sim::PlateMap;

// The plate file of the data folder when it can be read, else the store's built-in map.
std::optional<PlateMap> plate_from_store(const std::string& name, const std::string& data_dir) {
  namespace store = kestrova::store;
  if (!data_dir.empty()) {
    store::PlateFormat read;
    if (store::ReadPlateFormat(data_dir, name, read).ok) return PlateMap::from_format(read);
  }
  return PlateMap::builtin(name);
}

void print_new_frames(kestrova::sim::PtyServer& server, std::size_t& shown) {
  server.with_instrument([&](kestrova::sim::VirtualInstrument& vi) {
    const auto& frames = vi.frames();
    if (shown > frames.size()) shown = 0;
    for (; shown < frames.size(); ++shown) {
      const auto& f = frames[shown];
      std::printf("%10.3f s  frame %02X %02X %02X %02X %02X  reply %zu%s\n", f.sim_time, f.bytes[0],
                  f.bytes[1], f.bytes[2], f.bytes[3], f.bytes[4], f.reply_size,
                  f.ignored ? "  (ignored)" : "");
    }
    if (frames.size() > 50000) {
      vi.clear_log();
      shown = 0;
    }
  });
  std::fflush(stdout);
}

struct CommandLine {
  InstrumentOptions options;
  std::string link;
  std::string plate = "w96f";
  std::string data_dir;
  std::string factory = "valid";
  std::string pace = "instant";
  std::string empty;
  std::string time = "clock";
  std::string saturate;
  std::string dead;
  std::string fixed;
  int unacked = -1;
  std::vector<std::string> faults;
  double scan_ms = 30.0;
  bool verbose = false;
};

void add_options(CLI::App& app, CommandLine& cl) {
  app.add_option("--link", cl.link,
                 "Symlink the pty slave to PATH (e.g. DATA/ports/COM4); "
                 "missing folders are created, the link is removed on exit");
  app.add_option("--serial", cl.options.serial_number, "Serial number the probe answers")
      ->capture_default_str()
      ->check(CLI::Range(0, 65279));
  app.add_option("--plate", cl.plate,
                 "Plate format: w384, w96f, w96u, or any format with a file in --data-dir")
      ->capture_default_str();
  app.add_option("--data-dir", cl.data_dir, "Folder holding plate format files w*.dat");
  app.add_option("--seed", cl.options.seed, "Seed of the simulated world")->capture_default_str();
  app.add_option("--organisms", cl.options.organisms_per_well, "Organisms per occupied well")
      ->capture_default_str()
      ->check(CLI::Range(0, 50));
  app.add_option("--empty", cl.empty, "Wells without organisms, e.g. 0,5,90-95");
  app.add_option("--factory", cl.factory,
                 "Factory record in registers 128-135: valid, invalid (month 13) or blank "
                 "(all 0xFF)")
      ->capture_default_str()
      ->check(CLI::IsMember({"valid", "invalid", "blank"}));
  app.add_option("--pace", cl.pace,
                 "Reply pacing: instant, or line (115200 baud, a 192-byte block takes 16.7 ms)")
      ->capture_default_str()
      ->check(CLI::IsMember({"instant", "line"}));
  app.add_option("--ambient", cl.options.ambient_c, "Room temperature, deg C")
      ->capture_default_str();
  app.add_option("--time", cl.time,
                 "Simulated time: clock (follows the host's steady clock, so temperature and "
                 "scheduled faults move while nothing scans) or scan (moves only with block "
                 "reads, --scan-ms per full scan)")
      ->capture_default_str()
      ->check(CLI::IsMember({"clock", "scan"}));
  app.add_option("--scan-ms", cl.scan_ms,
                 "With --time scan: simulated time of one full scan (four blocks), ms")
      ->capture_default_str()
      ->check(CLI::Range(1.0, 10000.0));
  app.add_option("--noise", cl.options.noise_scale,
                 "Sensor noise on the beam levels, times the normal amount (2 counts + 0.4 % of "
                 "the level); 0 gives noise-free samples")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 100.0));
  app.add_option("--drift", cl.options.drift_percent_per_min,
                 "Beam drift, percent per simulated minute (each beam 0.75 to 1.25 times this; "
                 "negative dims); upward drift makes calibrated beams saturate")
      ->capture_default_str()
      ->check(CLI::Range(-50.0, 50.0));
  app.add_option("--saturate", cl.saturate,
                 "Channels flooded with light, e.g. 34,40-47, from a simulated second on with "
                 "@SECONDS (34,40-47@60): their light is multiplied by --saturate-factor, so a "
                 "calibrated beam reads 4095 until its setting is stepped down");
  app.add_option("--saturate-factor", cl.options.saturation.factor,
                 "Light factor of the --saturate channels")
      ->capture_default_str()
      ->check(CLI::Range(1.0, 1000.0));
  app.add_option("--dead", cl.dead,
                 "Channels whose beam gives no light at any setting, e.g. 12,40-41");
  app.add_option("--fixed", cl.fixed,
                 "Beams that read a fixed level at every setting, e.g. 12:1600,40-41:15");
  app.add_option("--unacked", cl.unacked,
                 "Channel (0 to 383) whose setting writes are never acknowledged")
      ->check(CLI::Range(0, 383));
  app.add_option("--fault", cl.faults,
                 "Fault, repeatable: silent[=N][@CODE] (no reply), short[=N][@CODE] (last byte "
                 "lost), highbyte[=N] (a block value with high byte 16), bad-echo=N[@CODE] (wrong "
                 "write echo), late:MS[=N][@CODE] (reply starts MS ms late), "
                 "stall:BYTES[:MS][=N][@CODE] (reply stops after BYTES bytes; the rest follows MS "
                 "ms later, or never), unstable:ADDR[=N] (reads of register ADDR of bank 0 "
                 "alternate right and wrong, for N wrong reads), unplug-at=S, replug-at=S (the "
                 "device node goes and comes back), cable-out-at=S, cable-in-at=S (the line goes "
                 "silent with the node kept, then answers again). N: only the next N frames; "
                 "CODE: only that command, e.g. 0x30; S: seconds of simulated time");
  app.add_flag("--verbose", cl.verbose, "Print every frame received");
}

// Turns the texts of the command line into instrument options; false after a message.
bool finish_options(CommandLine& cl) {
  std::string error;
  for (const auto& fault_text : cl.faults) {
    if (!kestrova::sim::apply_fault_text(fault_text, cl.options.faults, error)) {
      std::fprintf(stderr, "kestrova-sim: %s\n", error.c_str());
      return false;
    }
  }
  if (!kestrova::sim::parse_well_list(cl.empty, cl.options.empty_wells, error)) {
    std::fprintf(stderr, "kestrova-sim: --empty: %s\n", error.c_str());
    return false;
  }
  if (!kestrova::sim::parse_well_list(cl.dead, cl.options.dead_beams, error)) {
    std::fprintf(stderr, "kestrova-sim: --dead: %s\n", error.c_str());
    return false;
  }
  if (!kestrova::sim::parse_fixed_beams(cl.fixed, cl.options.fixed_beams, error)) {
    std::fprintf(stderr, "kestrova-sim: --fixed: %s\n", error.c_str());
    return false;
  }
  if (cl.unacked >= 0) cl.options.faults.bad_echo = kestrova::sim::channel_write_fault(cl.unacked);
  if (!cl.saturate.empty() &&
      !kestrova::sim::parse_saturation(cl.saturate, cl.options.saturation, error)) {
    std::fprintf(stderr, "kestrova-sim: --saturate: %s\n", error.c_str());
    return false;
  }
  kestrova::sim::parse_factory_kind(cl.factory, cl.options.factory);
  kestrova::sim::parse_pacing(cl.pace, cl.options.pacing);
  kestrova::sim::parse_time_mode(cl.time, cl.options.time_mode);
  cl.options.scan_seconds = cl.scan_ms / 1000.0;
  const auto map = plate_from_store(cl.plate, cl.data_dir);
  if (!map) {
    std::fprintf(stderr,
                 "kestrova-sim: unknown plate format '%s' (built in: w384, w96f, w96u; others "
                 "need --data-dir with their .dat file)\n",
                 cl.plate.c_str());
    return false;
  }
  cl.options.plate = *map;
  return true;
}

void serve_until_signal(kestrova::sim::PtyServer& server, const CommandLine& cl,
                        const sigset_t& signals) {
  std::size_t shown = 0;
  bool was_plugged = true;
  bool had_cable = true;
  for (;;) {
    timespec wait{0, 200 * 1000 * 1000};
    const int sig = sigtimedwait(&signals, nullptr, &wait);
    if (sig == SIGINT || sig == SIGTERM) {
      std::printf("kestrova-sim: %s received, stopping\n", sig == SIGINT ? "SIGINT" : "SIGTERM");
      break;
    }
    if (cl.verbose) print_new_frames(server, shown);
    if (server.plugged() != was_plugged) {
      was_plugged = server.plugged();
      if (was_plugged) {
        std::printf("kestrova-sim: replugged on %s\n", server.slave_path().c_str());
      } else {
        std::printf("kestrova-sim: unplugged\n");
      }
      std::fflush(stdout);
    }
    const bool cable = server.with_instrument(
        [](kestrova::sim::VirtualInstrument& vi) { return vi.cable_connected(); });
    if (cable != had_cable) {
      had_cable = cable;
      std::printf("kestrova-sim: cable %s\n", cable ? "back in: answering again" : "out: silent");
      std::fflush(stdout);
    }
  }
  if (cl.verbose) print_new_frames(server, shown);
}

} // namespace

int main(int argc, char** argv) {
  CLI::App app{"Virtual Kestrova instrument: serves the instrument's serial protocol on a "
               "pseudo-terminal until interrupted (SIGINT or SIGTERM)."};
  CommandLine cl;
  add_options(app, cl);
  CLI11_PARSE(app, argc, argv);
  if (!finish_options(cl)) return 2;

  // Signals are taken by sigtimedwait; block them before the serving thread starts.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  kestrova::sim::PtyServer server(cl.options);
  std::string error;
  if (!server.start(&error)) {
    std::fprintf(stderr, "kestrova-sim: cannot open a pseudo-terminal: %s\n", error.c_str());
    return 1;
  }
  if (!cl.link.empty() && !server.link(cl.link, &error)) {
    std::fprintf(stderr, "kestrova-sim: %s\n", error.c_str());
    server.stop();
    return 1;
  }
  const auto& o = cl.options;
  std::printf("kestrova-sim: serial %d, plate %s (%d wells, %d organisms each), seed %llu, "
              "factory record %s, pacing %s, time %s\n",
              o.serial_number, cl.plate.c_str(), o.plate.well_count, o.organisms_per_well,
              static_cast<unsigned long long>(o.seed), cl.factory.c_str(), cl.pace.c_str(),
              cl.time.c_str());
  std::printf("kestrova-sim: serving on %s", server.slave_path().c_str());
  if (!cl.link.empty()) std::printf(" linked as %s", cl.link.c_str());
  std::printf("\nkestrova-sim: stop with Ctrl+C or SIGTERM\n");
  std::fflush(stdout);

  serve_until_signal(server, cl, signals);
  server.stop();
  std::printf("kestrova-sim: stopped%s\n", cl.link.empty() ? "" : ", link removed");
  return 0;
}
