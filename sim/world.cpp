#include "sim/world.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace kestrova::sim {
namespace {

constexpr double kLevelScale = 400.0;    // level of a clear beam at setting index 0
constexpr double kStepRatio = 1.06;      // brightness ratio of one calibration step
constexpr double kNoiseBase = 2.0;       // noise deviation, counts
constexpr double kNoisePerLevel = 0.004; // plus this fraction of the level
constexpr double kBeamWidthMm = 0.5;     // Gaussian width of a beam's shadow profile
constexpr double kPlantTauS = 180.0;     // time constant of the temperature plant
constexpr double kHeatRiseC = 18.0;      // steady rise above ambient when heating
constexpr double kCoolDropC = 10.0;      // steady drop below ambient when cooling
constexpr double kLightRiseC = 1.0;      // the light warms the plate a little
constexpr double kMaxStepS = 0.02;
constexpr double kLongAdvanceS = 5.0;
constexpr double kLongStepS = 0.5;
constexpr double kActiveSpeedMm = 0.4; // crawling speed, mm/s
constexpr double kRestSpeedMm = 0.02;
constexpr double kActiveBendHz = 2.0; // body bends while active
constexpr double kRestBendHz = 0.3;
constexpr double kMeanActiveS = 20.0;
constexpr double kMeanRestS = 6.0;
// Seed of the beams' drift shares, apart from the world's generator so the organisms of a seed
// stay the same whatever the drift.
constexpr std::uint64_t kDriftSeedMix = 0xD1B54A32D192ED03ULL;

} // namespace

std::uint64_t Rng::next() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

double Rng::uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

double Rng::uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }

double Rng::normal() {
  if (has_spare_) {
    has_spare_ = false;
    return spare_;
  }
  double u1 = uniform();
  while (u1 <= 0.0)
    u1 = uniform();
  const double u2 = uniform();
  const double radius = std::sqrt(-2.0 * std::log(u1));
  const double angle = 2.0 * std::numbers::pi * u2;
  spare_ = radius * std::sin(angle);
  has_spare_ = true;
  return radius * std::cos(angle);
}

double beam_x_mm(int channel) { return store::beam_column(channel) * kBeamPitchMm; }
double beam_y_mm(int channel) { return store::beam_row(channel) * kBeamPitchMm; }

World::World(const InstrumentOptions& options)
    : rng_(options.seed), noise_scale_(std::max(options.noise_scale, 0.0)),
      temperature_(options.ambient_c), ambient_(options.ambient_c) {
  Rng drift_rng(options.seed ^ kDriftSeedMix);
  for (double& rate : drift_rate_)
    rate = drift_rng.uniform(0.75, 1.25);
  set_drift(options.drift_percent_per_min);
  set_saturation(options.saturation);
  {
    std::vector<FixedBeam> fixed = options.fixed_beams;
    for (int c : options.dead_beams)
      fixed.push_back({c, kDarkLevel});
    set_fixed_beams(fixed);
  }
  well_of_channel_ = options.plate.well_of_channel;
  for (int c = 0; c < kChannelCount; ++c) {
    // Beams through a well see the liquid; beams between wells pass plastic and see less.
    transmission_[c] = well_of_channel_[c] >= 0 ? rng_.uniform(0.6, 1.4) : rng_.uniform(0.25, 0.5);
  }
  place_wells(options);
  populate(options);
}

void World::place_wells(const InstrumentOptions& options) {
  const int count = std::max(options.plate.well_count, 0);
  wells_.assign(static_cast<std::size_t>(count), Well{});
  std::vector<int> beams(wells_.size(), 0);
  for (int c = 0; c < kChannelCount; ++c) {
    const int w = well_of_channel_[c];
    if (w < 0 || w >= count) continue;
    wells_[w].cx += beam_x_mm(c);
    wells_[w].cy += beam_y_mm(c);
    ++beams[w];
  }
  const double area = kChannelCount * kBeamPitchMm * kBeamPitchMm / std::max(count, 1);
  const double nominal = std::sqrt(0.45 * area / std::numbers::pi);
  for (std::size_t w = 0; w < wells_.size(); ++w) {
    if (beams[w] == 0) continue;
    wells_[w].cx /= beams[w];
    wells_[w].cy /= beams[w];
    wells_[w].radius = nominal;
  }
  // Every beam of a well must lie well inside it.
  for (int c = 0; c < kChannelCount; ++c) {
    const int w = well_of_channel_[c];
    if (w < 0 || w >= count) continue;
    const double d = std::hypot(beam_x_mm(c) - wells_[w].cx, beam_y_mm(c) - wells_[w].cy);
    wells_[w].radius = std::max(wells_[w].radius, d + 1.0);
  }
}

void World::populate(const InstrumentOptions& options) {
  for (std::size_t w = 0; w < wells_.size(); ++w) {
    const bool empty = std::find(options.empty_wells.begin(), options.empty_wells.end(),
                                 static_cast<int>(w)) != options.empty_wells.end();
    if (empty || wells_[w].radius <= 0.0) continue;
    for (int i = 0; i < options.organisms_per_well; ++i) {
      OrganismState o;
      o.well = static_cast<int>(w);
      const double r = wells_[w].radius * 0.8 * std::sqrt(rng_.uniform());
      const double a = rng_.uniform(0.0, 2.0 * std::numbers::pi);
      o.x_mm = wells_[w].cx + r * std::cos(a);
      o.y_mm = wells_[w].cy + r * std::sin(a);
      o.active = rng_.uniform() < 0.75;
      Motion m;
      m.heading = rng_.uniform(0.0, 2.0 * std::numbers::pi);
      m.phase = rng_.uniform(0.0, 2.0 * std::numbers::pi);
      m.opacity = rng_.uniform(0.3, 0.45);
      wells_[w].organisms.push_back(static_cast<int>(organisms_.size()));
      organisms_.push_back(o);
      motion_.push_back(m);
    }
  }
}

void World::set_drift(double percent_per_min) {
  // Below -100 % a minute the light would go negative: hold it at -99 %.
  drift_per_s_ = std::log1p(std::max(percent_per_min, -99.0) / 100.0) / 60.0;
}

void World::set_saturation(Saturation saturation) {
  saturation_ = std::move(saturation);
  flooded_.fill(false);
  for (int c : saturation_.channels) {
    if (c >= 0 && c < kChannelCount) flooded_[c] = true;
  }
}

void World::set_fixed_beams(const std::vector<FixedBeam>& beams) {
  fixed_level_.fill(-1.0);
  for (const FixedBeam& b : beams)
    if (b.channel >= 0 && b.channel < kChannelCount) fixed_level_[b.channel] = b.level;
}

void World::set_beam_level(int channel, double level) {
  if (channel >= 0 && channel < kChannelCount) fixed_level_[channel] = level < 0.0 ? -1.0 : level;
}

double World::light_factor(int channel) const {
  double factor = std::exp(drift_log_[channel]);
  if (flooded_[channel] && time_ >= saturation_.at_seconds) factor *= saturation_.factor;
  return factor;
}

void World::advance(double seconds) {
  if (seconds > 0.0) advance_to(time_ + seconds);
}

void World::advance_to(double t) {
  double seconds = t - time_;
  if (seconds <= 0.0) return;
  while (seconds > 0.0) {
    // Long stretches (a pause, an unplugged line) go in coarser steps; scans never do.
    const double dt = std::min(seconds, seconds > kLongAdvanceS ? kLongStepS : kMaxStepS);
    step(dt);
    seconds -= dt;
  }
  time_ = t;
}

double World::vigour() const {
  // Organisms move faster when warm and a little more under light.
  double v = 1.0 + 0.05 * (temperature_ - 22.0);
  if ((outputs_ & 4) != 0) v *= 1.2;
  return std::clamp(v, 0.2, 2.0);
}

void World::step(double dt) {
  double target = ambient_;
  if ((outputs_ & 1) != 0) target += (outputs_ & 2) != 0 ? kHeatRiseC : -kCoolDropC;
  if ((outputs_ & 4) != 0) target += kLightRiseC;
  temperature_ = target + (temperature_ - target) * std::exp(-dt / kPlantTauS);

  if (drift_per_s_ != 0.0) {
    for (int c = 0; c < kChannelCount; ++c)
      drift_log_[c] += drift_per_s_ * drift_rate_[c] * dt;
  }

  const double v = vigour();
  for (std::size_t i = 0; i < organisms_.size(); ++i)
    step_organism(organisms_[i], motion_[i], dt, v);
  time_ += dt;
}

void World::step_organism(OrganismState& o, Motion& m, double dt, double vigour) {
  const double switch_rate = o.active ? 1.0 / (kMeanActiveS * vigour) : vigour / kMeanRestS;
  if (rng_.uniform() < switch_rate * dt) o.active = !o.active;

  const double speed = (o.active ? kActiveSpeedMm : kRestSpeedMm) * vigour;
  m.heading += rng_.normal() * 1.2 * std::sqrt(dt);
  o.x_mm += speed * std::cos(m.heading) * dt;
  o.y_mm += speed * std::sin(m.heading) * dt;
  m.phase += 2.0 * std::numbers::pi * (o.active ? kActiveBendHz : kRestBendHz) * vigour * dt;
  if (m.phase > 2.0 * std::numbers::pi) m.phase -= 2.0 * std::numbers::pi;

  const Well& well = wells_[static_cast<std::size_t>(o.well)];
  const double dx = o.x_mm - well.cx;
  const double dy = o.y_mm - well.cy;
  const double limit = well.radius - 0.3;
  const double d = std::hypot(dx, dy);
  if (d > limit) {
    // At the wall: stay on it and turn back inwards.
    o.x_mm = well.cx + dx * limit / d;
    o.y_mm = well.cy + dy * limit / d;
    m.heading = std::atan2(-dy, -dx) + rng_.uniform(-1.0, 1.0);
  }
}

double World::clear_level(int channel, std::uint8_t setting) const {
  if (fixed_level_[channel] >= 0.0) return fixed_level_[channel];
  const int power = setting & 31;
  const int gain = setting >> 5;
  const double step = 8.0 * power + gain;
  return kDarkLevel +
         kLevelScale * transmission_[channel] * std::pow(kStepRatio, step) * light_factor(channel);
}

double World::shadow(int channel) const {
  const int w = well_of_channel_[channel];
  if (w < 0 || w >= static_cast<int>(wells_.size())) return 1.0;
  const double bx = beam_x_mm(channel);
  const double by = beam_y_mm(channel);
  double t = 1.0;
  for (int i : wells_[w].organisms) {
    const OrganismState& o = organisms_[i];
    const Motion& m = motion_[i];
    const double d2 = (o.x_mm - bx) * (o.x_mm - bx) + (o.y_mm - by) * (o.y_mm - by);
    const double bend = 0.65 + 0.35 * std::sin(m.phase);
    t *= 1.0 - m.opacity * bend * std::exp(-d2 / (2.0 * kBeamWidthMm * kBeamWidthMm));
  }
  return t;
}

double World::beam_level(int channel, std::uint8_t setting) const {
  const double clear = clear_level(channel, setting);
  if (fixed_level_[channel] >= 0.0) return clear;
  return kDarkLevel + (clear - kDarkLevel) * shadow(channel);
}

int World::sample(int channel, std::uint8_t setting) {
  const double level = beam_level(channel, setting);
  const double deviation = (kNoiseBase + kNoisePerLevel * level) * noise_scale_;
  const double noisy = level + rng_.normal() * deviation;
  return static_cast<int>(std::clamp(std::lround(noisy), 0L, 4095L));
}

} // namespace kestrova::sim
