#pragma once

// Literal form of activity detection and the body-bend histogram: every window is summed or
// searched directly, step by step as the algorithm is worded. The tests and the benchmark hold
// the fast routines of the library against it.

#include <array>
#include <cmath>
#include <cstdint>
#include <span>

#include "acquisition/activity_files.hpp"
#include "common/rounding.hpp"

namespace kestrova::acquisition::reference {

// Places where a value is rounded; `Trace::halves` tallies the exact halves met at each, so a
// test can show that its signals reached the ties of half-to-even rounding.
enum RoundingSite {
  kEnvelopeAverage, // 30-value averages of the upper envelope
  kClipLine,        // clip line of step 3
  kThresholdLine,   // detection line of methods 0 and 1
  kFractionLine,    // detection line of method 3
  kMotilityLevel,   // reference level and detection line of method 2
  kBendThreshold,   // whole-number threshold of the body-bend histogram
  kRoundingSites
};

struct Trace {
  std::array<std::int16_t, 501> line{};
  std::array<std::int16_t, 501> marks{};
  std::array<char, 500> flags{};
  std::array<long, kRoundingSites> halves{};
};

// Returns v, counting it when it lies exactly halfway between two whole numbers.
inline double noting_half(double v, long& tally) {
  if (std::isfinite(v) && v - std::floor(v) == 0.5) ++tally;
  return v;
}

// Rounded half to even into a 16-bit value, saturated; not-a-number gives 0.
inline std::int16_t round16(double v) {
  if (std::isnan(v)) return 0;
  const double r = common::round_half_even(v);
  if (r > 32767.0) return 32767;
  if (r < -32768.0) return -32768;
  return static_cast<std::int16_t>(r);
}

// Positions the block lacks read as 0.
inline void load_channel(const std::int16_t* block, int positions, int channel,
                         std::array<int, 500>& x) {
  for (int k = 0; k < 500; ++k)
    x[k] = k < positions ? block[static_cast<std::size_t>(k) * kChannelSlots + channel] : 0;
}

// Envelopes of x starting from x[first]; returns the sums of U - L and of x over k = 2..498.
inline void envelopes(const std::array<int, 500>& x, int first, std::array<int, 501>& U,
                      std::array<int, 501>& L, std::int32_t& sum_ul, std::int32_t& sum_x) {
  U[0] = U[1] = L[0] = L[1] = x[first];
  sum_ul = 0;
  sum_x = 0;
  for (int k = 2; k <= 498; ++k) {
    U[k] = U[k - 1];
    L[k] = L[k - 1];
    if (x[k] < x[k - 1] && x[k] < x[k + 1]) L[k] = x[k];
    if (x[k] > x[k - 1] && x[k] > x[k + 1]) U[k] = x[k];
    sum_ul += U[k] - L[k];
    sum_x += x[k];
  }
}

// Rounded average of the 30 values of U after k (k <= 29) or before k.
inline int average30(const std::array<int, 501>& U, int k, long& halves) {
  std::int32_t sum = 0;
  if (k <= 29) {
    for (int j = k + 1; j <= k + 30; ++j)
      sum += U[j];
  } else {
    for (int j = k - 30; j <= k - 1; ++j)
      sum += U[j];
  }
  return common::round_to_int(noting_half(sum / 30.0, halves));
}

inline std::int16_t detect_activity(std::int16_t* block, int positions, int channel, double thr,
                                    std::int16_t method, Trace& trace) {
  if (channel < 0 || channel >= kChannelSlots) return 0;
  std::array<int, 500> x{};
  load_channel(block, positions, channel, x);
  std::array<int, 501> U{}, L{};
  std::array<int, 500> c{}, l{};
  trace.flags.fill('0');

  // Steps 1 and 2.
  std::int32_t sum_ul = 0, sum_x = 0;
  envelopes(x, 1, U, L, sum_ul, sum_x);
  const int A = common::round_to_int(sum_ul / 497.0);
  const int M = common::round_to_int(sum_x / 497.0);
  const double P = M < 1 ? thr : (1.0 - static_cast<double>(M - A) / M) * 100.0 * thr;
  double T = P + 1.0;
  if (T < 1.0) T = 1.0;

  // Step 3: clip line and clipping.
  for (int k = 0; k <= 499; ++k) {
    const int B = average30(U, k, trace.halves[kEnvelopeAverage]);
    long& halves = trace.halves[kClipLine];
    if (k < 4)
      c[k] = round16(noting_half((T + 100.0) / 100.0 * B, halves));
    else
      c[k] = round16(
          noting_half(((T + 100.0) * B / 100.0 + c[k - 3] + c[k - 1] + c[k - 2]) / 4.0, halves));
    if (c[k] < x[k]) x[k] = c[k];
  }

  // Steps 4 and 5.
  envelopes(x, 2, U, L, sum_ul, sum_x);
  const int A2 = common::round_to_int(sum_ul / 497.0);
  const int M2 = common::round_to_int(sum_x / 497.0);
  const double P2 =
      (M2 > 0 && A2 < M2) ? (1.0 - static_cast<double>(M2 - A2) / M2) * 100.0 * thr : thr;
  double T2 = P2 + 1.0;
  if (T2 < 1.0) T2 = 1.0;
  const int D = A2 < 5 ? 5 : A2;

  int count = 0;
  if (method == 0 || method == 1) {
    for (int u = 0; u <= 499; ++u) {
      const int B = average30(U, u, trace.halves[kEnvelopeAverage]);
      long& halves = trace.halves[kThresholdLine];
      if (u < 4)
        l[u] = round16(noting_half((100.0 - 1.75 * T2) / 100.0 * B, halves));
      else
        l[u] = round16(
            noting_half((B * (100.0 - T2) / 100.0 + l[u - 2] + l[u - 1] + l[u - 3]) / 4.0, halves));
      trace.line[u] = static_cast<std::int16_t>(l[u]);
    }
    if (method == 0) {
      int window = 0;
      bool dip = false;
      for (int u = 0; u <= 499; ++u) {
        if (x[u] < l[u]) dip = true;
        if (u > 0) window = window == 30 ? 1 : window + 1;
        if (window == 30 && dip) {
          ++count;
          trace.marks[u] = -1;
          trace.flags[u] = '1';
          dip = false;
        }
      }
    } else {
      bool armed = false;
      for (int u = 0; u <= 499; ++u) {
        if (x[u] < l[u] && !armed) {
          ++count;
          trace.marks[u] = -1;
          trace.flags[u] = '1';
          armed = true;
        }
        if (l[u] < x[u]) armed = false;
      }
    }
  } else if (method == 3) {
    for (int u = 0; u <= 499; ++u) {
      const int B = average30(U, u, trace.halves[kEnvelopeAverage]);
      long& halves = trace.halves[kFractionLine];
      if (u < 4)
        l[u] = round16(noting_half(B * thr, halves));
      else
        l[u] = round16(noting_half((l[u - 2] + l[u - 1] + l[u - 3] + B * thr) / 4.0, halves));
      trace.line[u] = static_cast<std::int16_t>(l[u]);
    }
    bool armed = false;
    for (int u = 1; u <= 499; ++u) {
      const double m = (x[u - 1] + x[u]) / 2.0;
      if (m < l[u] && !armed) {
        ++count;
        trace.marks[u] = -1;
        trace.flags[u] = '1';
        armed = true;
      }
      if (m > l[u]) armed = false;
    }
  } else if (method == 2) {
    std::array<double, 500> b{}, d{}, s{};
    for (int w = 0; w <= 499; ++w) {
      double low = 9999;
      const int from = w < 449 ? w : w - 49;
      for (int j = from; j <= from + 49; ++j)
        if (x[j] < low) low = x[j];
      b[w] = low;
    }
    for (int w = 0; w <= 499; ++w) {
      const int from = w < 449 ? w : w - 49;
      double sum = 0;
      for (int j = from; j <= from + 49; ++j)
        sum += b[j];
      b[w] = sum / 50.0;
    }
    for (int u = 0; u <= 499; ++u)
      d[u] = x[u] - b[u];
    for (int i = 0; i <= 499; ++i) {
      const int from = i < 489 ? i : i - 9;
      double sum = 0;
      for (int j = from; j <= from + 9; ++j)
        sum += d[j];
      s[i] = sum / 10.0;
    }
    bool rising = false;
    int run = 0;
    double level = 0;
    for (int u = 1; u <= 499; ++u) {
      if (s[u] > s[u - 1]) {
        if (!rising) {
          rising = true;
          run = 0;
          level = common::round_half_even(noting_half(s[u], trace.halves[kMotilityLevel]));
        } else {
          ++run;
        }
      } else if (s[u] < s[u - 1]) {
        if (rising) {
          rising = false;
          run = 0;
          level = common::round_half_even(noting_half(s[u], trace.halves[kMotilityLevel]));
        } else {
          ++run;
        }
      }
      if (std::fabs(level - s[u]) > D && run == 10) {
        ++count;
        trace.flags[u] = '1';
      }
      trace.line[u] = round16(noting_half(s[u] - D, trace.halves[kMotilityLevel]));
    }
  }

  for (int k = 0; k < 500 && k < positions; ++k)
    block[static_cast<std::size_t>(k) * kChannelSlots + channel] = static_cast<std::int16_t>(x[k]);
  return static_cast<std::int16_t>(count);
}

inline int body_bend_histogram(const std::int16_t* block, int positions, int channel,
                               std::span<std::int16_t, 50> hist, double thr,
                               Trace* tally = nullptr) {
  for (auto& h : hist)
    h = 0;
  if (channel < 0 || channel >= kChannelSlots) return 1;
  std::array<int, 500> x{};
  load_channel(block, positions, channel, x);
  long ignored = 0;
  const std::int64_t h = common::round_to_int(
      noting_half(thr, tally != nullptr ? tally->halves[kBendThreshold] : ignored));
  std::array<std::int64_t, 500> y{}, e{};
  for (int a = 3; a <= 496; ++a)
    y[a] = common::round_to_int((x[a - 2] + x[a - 1] + x[a] + x[a + 1] + x[a + 2]) / 5.0);
  y[0] = y[1] = y[2] = y[3];
  y[497] = y[498] = y[499] = y[496];
  std::int64_t peak = y[0];
  for (int i = 1; i <= 498; ++i) {
    if (y[i] > y[i - 1] && y[i] > y[i + 1]) peak = y[i];
    e[i] = (peak - y[i]) - h;
    if (e[i] < 0) e[i] = 0;
  }
  e[0] = e[1];
  e[499] = e[498];
  int last = 0;
  for (int i = 1; i <= 498; ++i) {
    if (e[i] > e[i - 1] && e[i] > e[i + 1]) {
      const int distance = i - last;
      if (distance >= 2 && distance <= 49) ++hist[distance];
      last = i;
    }
  }
  return 1;
}

} // namespace kestrova::acquisition::reference
