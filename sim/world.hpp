#pragma once

// The physical side of the virtual instrument: beam levels from the channel settings (with noise,
// drift and flooding), organisms that move in their wells and dim the beams they cross, and the
// temperature of the plate.

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "sim/virtual_instrument.hpp"

namespace kestrova::sim {

inline constexpr double kDarkLevel = 15.0; // receiver output with no light

// A small deterministic generator (splitmix64), so a seed gives the same world everywhere.
class Rng {
public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next();
  double uniform(); // [0, 1)
  double uniform(double lo, double hi);
  double normal(); // mean 0, deviation 1

private:
  std::uint64_t state_;
  bool has_spare_ = false;
  double spare_ = 0.0;
};

class World {
public:
  explicit World(const InstrumentOptions& options);

  // Moves time on: organisms and the temperature plant, in steps of at most 20 ms (0.5 s
  // within advances longer than 5 s).
  void advance(double seconds);
  // The same up to time t exactly (nothing when t is not ahead).
  void advance_to(double t);
  double time() const { return time_; }

  void set_outputs(std::uint8_t outputs) { outputs_ = outputs; }
  double temperature_c() const { return temperature_; }

  void set_noise_scale(double scale) { noise_scale_ = std::max(scale, 0.0); }
  // Percent per simulated minute, from now on; the light gained or lost so far is kept.
  void set_drift(double percent_per_min);
  void set_saturation(Saturation saturation);
  // Beams that read a fixed level at every setting (out-of-range channels are ignored).
  void set_fixed_beams(const std::vector<FixedBeam>& beams);
  // Fixes one beam at `level`, leaving the others; a negative level lets it follow its setting
  // again.
  void set_beam_level(int channel, double level);
  // Factor on a beam's light from drift and flooding (1 without either).
  double light_factor(int channel) const;

  // Noise-free level of a beam for a setting byte, without and with the organisms' shadows.
  double clear_level(int channel, std::uint8_t setting) const;
  double beam_level(int channel, std::uint8_t setting) const;
  // One measured sample: the beam level plus noise, limited to 0..4095.
  int sample(int channel, std::uint8_t setting);

  const std::vector<OrganismState>& organisms() const { return organisms_; }
  // Transmission (0..1) of a channel through the organisms of its well.
  double shadow(int channel) const;

private:
  struct Motion {
    double heading = 0.0;
    double phase = 0.0;
    double opacity = 0.4;
    double rest_timer = 0.0;
  };
  struct Well {
    double cx = 0.0;
    double cy = 0.0;
    double radius = 0.0;
    std::vector<int> organisms; // indexes into organisms_
  };

  void place_wells(const InstrumentOptions& options);
  void populate(const InstrumentOptions& options);
  void step(double dt);
  void step_organism(OrganismState& o, Motion& m, double dt, double vigour);
  double vigour() const;

  Rng rng_;
  double time_ = 0.0;
  double noise_scale_ = 1.0;
  double drift_per_s_ = 0.0;                       // natural log of the light per second
  std::array<double, kChannelCount> drift_rate_{}; // each beam's share of the drift, 0.75-1.25
  std::array<double, kChannelCount> drift_log_{};  // natural log of each beam's drift factor
  Saturation saturation_;
  std::array<bool, kChannelCount> flooded_{};
  std::array<double, kChannelCount> fixed_level_{}; // negative: the beam follows its setting
  double temperature_;
  double ambient_;
  std::uint8_t outputs_ = 0;
  std::array<int, kChannelCount> well_of_channel_{};
  std::array<double, kChannelCount> transmission_{};
  std::vector<Well> wells_;
  std::vector<OrganismState> organisms_;
  std::vector<Motion> motion_;
};

// Beam position of a channel in millimetres (x along beam columns, y along beam rows).
double beam_x_mm(int channel);
double beam_y_mm(int channel);

} // namespace kestrova::sim
