#pragma once

// Internal to the detection kernels: activity detection of several channels side by side.
//
// Every quantity is held as a double, which represents the 16-bit samples and their 32-bit sums
// exactly, in vectors of kWidth lanes (detection_vectors.hpp). C vectors give C x kWidth lanes;
// independent vectors let the serial recurrences (clip and detection lines) of several channels
// overlap. Each lane computes exactly what the scalar formulas give: the same operations in the
// same order, and half-to-even rounding by the FPU's own rounding mode. The translation unit
// that includes this header must be built with -ffp-contract=off, so that no multiply and add
// are fused. Everything here lives in the namespace of the instruction set it is built for.

#include <algorithm>
#include <cfloat>
#include <cstdint>

#include "acquisition/detection.hpp"
#include "acquisition/detection_vectors.hpp"
#include "common/rounding.hpp"

static_assert(FLT_EVAL_METHOD == 0, "detection needs strict double evaluation");

namespace kestrova::acquisition::detail::KESTROVA_LANES_NS {

constexpr int kS = kDetectionSamples;
constexpr double kMagic = 6755399441055744.0; // 1.5 * 2^52

// C x kWidth lanes of doubles, and the masks their comparisons give.
template <int C> struct D {
  Vec c[C];
  double operator[](int j) const { return c[j / kWidth][j % kWidth]; }
  void set(int j, double v) { c[j / kWidth][j % kWidth] = v; }
};
template <int C> struct M {
  Mask c[C];
  bool operator[](int j) const { return lane_set(c[j / kWidth], j % kWidth); }
  // Bit j set where lane j is.
  std::uint64_t bits() const {
    std::uint64_t r = 0;
    for (int i = 0; i < C; ++i)
      r |= static_cast<std::uint64_t>(mask_bits(c[i])) << (i * kWidth);
    return r;
  }
};

template <int C, class R, class A, class F> inline R lanewise(const A& a, const A& b, F f) {
  R r;
  for (int i = 0; i < C; ++i)
    r.c[i] = f(a.c[i], b.c[i]);
  return r;
}

template <int C> D<C> operator+(const D<C>& a, const D<C>& b) {
  return lanewise<C, D<C>>(a, b, vadd);
}
template <int C> D<C> operator-(const D<C>& a, const D<C>& b) {
  return lanewise<C, D<C>>(a, b, vsub);
}
template <int C> D<C> operator*(const D<C>& a, const D<C>& b) {
  return lanewise<C, D<C>>(a, b, vmul);
}
template <int C> D<C> operator/(const D<C>& a, const D<C>& b) {
  return lanewise<C, D<C>>(a, b, vdiv);
}
template <int C> M<C> operator<(const D<C>& a, const D<C>& b) {
  return lanewise<C, M<C>>(a, b, vlt);
}
template <int C> M<C> operator>(const D<C>& a, const D<C>& b) {
  return lanewise<C, M<C>>(a, b, vgt);
}
template <int C> M<C> operator==(const D<C>& a, const D<C>& b) {
  return lanewise<C, M<C>>(a, b, veq);
}
template <int C> M<C> operator&(const M<C>& a, const M<C>& b) {
  return lanewise<C, M<C>>(a, b, mand);
}
template <int C> M<C> operator|(const M<C>& a, const M<C>& b) {
  return lanewise<C, M<C>>(a, b, mor);
}
// a and not b.
template <int C> M<C> and_not(const M<C>& a, const M<C>& b) {
  return lanewise<C, M<C>>(a, b, mand_not);
}

template <int C> inline D<C> splat(double v) {
  D<C> r;
  for (int i = 0; i < C; ++i)
    r.c[i] = vsplat(v);
  return r;
}
template <int C> inline D<C> select(const M<C>& m, const D<C>& a, const D<C>& b) {
  D<C> r;
  for (int i = 0; i < C; ++i)
    r.c[i] = vselect(m.c[i], a.c[i], b.c[i]);
  return r;
}
// a < b ? a : b, lane by lane (exact for the whole numbers held here).
template <int C> inline D<C> min(const D<C>& a, const D<C>& b) {
  return lanewise<C, D<C>>(a, b, vmin);
}
template <int C> inline D<C> max(const D<C>& a, const D<C>& b) {
  return lanewise<C, D<C>>(a, b, vmax);
}
// 1 where the mask is set, else 0.
template <int C> inline D<C> ones(const M<C>& m) {
  D<C> r;
  for (int i = 0; i < C; ++i)
    r.c[i] = vkeep(m.c[i], vsplat(1.0));
  return r;
}
template <int C> inline bool all(const M<C>& m) {
  bool r = true;
  for (int i = 0; i < C; ++i)
    r = r && all_set(m.c[i]);
  return r;
}

// Half-to-even rounding of |v| < 2^51 by the FPU's round-to-nearest-even mode; gives exactly
// what common::round_half_even gives for such values, without a library call.
inline double round_even(double v) { return (v + kMagic) - kMagic; }
template <int C> inline D<C> round_even(const D<C>& v) {
  return (v + splat<C>(kMagic)) - splat<C>(kMagic);
}

// Rounded into the 16-bit range (saturated); not-a-number gives 0.
template <int C> inline D<C> round16(D<C> v) {
  v = select(v == v, v, splat<C>(0.0));
  v = select(v < splat<C>(-32768.0), splat<C>(-32768.0), v);
  v = select(v > splat<C>(32767.0), splat<C>(32767.0), v);
  return round_even(v);
}

// Threshold from the mean amplitude and level of a pass: percent of thr, plus one, at least 1.
inline double threshold_from(int amplitude, int level, double thr, bool second_pass) {
  const bool scaled = second_pass ? (level > 0 && amplitude < level) : level >= 1;
  const double p =
      scaled ? (1.0 - static_cast<double>(level - amplitude) / level) * 100.0 * thr : thr;
  const double t = p + 1.0;
  return t < 1.0 ? 1.0 : t;
}

// Working arrays of C x kWidth channels side by side: lane j of entry k is sample k of channel j.
template <int C> struct Lanes {
  static constexpr int kLanes = C * kWidth;
  D<C> x[kS];
  D<C> up[kS + 1];  // upper envelope; block prefix minima in method 2
  D<C> low[kS + 1]; // block suffix minima in method 2
  D<C> pre[kS + 2]; // prefix sums of the minima in method 2
  D<C> mins[kS];
  M<C> hit[kS]; // set where a lane counted
  D<C> line[kS];
  D<C> b[kS];
  D<C> d[kS];
  D<C> s[kS];
  D<C> T;
  D<C> depth; // amplitude threshold D of method 2
  D<C> count;
  bool lowered[kS]; // set where clipping lowered a lane
};

// Envelopes starting from x[first], and their sums over k = 2..498, into the thresholds.
template <int C> void envelopes(Lanes<C>& w, int first, bool second_pass, double thr) {
  D<C> sum_ul, sum_x;
  // P vectors of lanes at a time keep the working values in registers (AVX-512 has 32 of them,
  // the others 16) while their sums, serial in k, overlap.
  constexpr int P = kWidth == 8 && C % 4 == 0 ? 4 : C % 2 == 0 ? 2 : 1;
  for (int i = 0; i < C; i += P) {
    Vec lo[P], hi[P], su[P], sx[P], xp[P], xc[P];
    for (int p = 0; p < P; ++p) {
      lo[p] = hi[p] = w.x[first].c[i + p];
      w.up[0].c[i + p] = w.up[1].c[i + p] = lo[p];
      su[p] = sx[p] = vsplat(0.0);
      xp[p] = w.x[1].c[i + p];
      xc[p] = w.x[2].c[i + p];
    }
    for (int k = 2; k <= 498; ++k) {
      for (int p = 0; p < P; ++p) {
        const Vec xn = w.x[k + 1].c[i + p];
        lo[p] = vselect(vlt(xc[p], vmin(xp[p], xn)), xc[p], lo[p]);
        hi[p] = vselect(vgt(xc[p], vmax(xp[p], xn)), xc[p], hi[p]);
        w.up[k].c[i + p] = hi[p];
        su[p] = vadd(su[p], vsub(hi[p], lo[p]));
        sx[p] = vadd(sx[p], xc[p]);
        xp[p] = xc[p];
        xc[p] = xn;
      }
    }
    for (int p = 0; p < P; ++p) {
      sum_ul.c[i + p] = su[p];
      sum_x.c[i + p] = sx[p];
    }
  }
  for (int j = 0; j < Lanes<C>::kLanes; ++j) {
    const int amplitude = common::round_to_int(sum_ul[j] / 497.0);
    const int level = common::round_to_int(sum_x[j] / 497.0);
    w.T.set(j, threshold_from(amplitude, level, thr, second_pass));
    if (second_pass) w.depth.set(j, amplitude < 5 ? 5 : amplitude);
  }
}

// Calls f(k, average) for k = 0..499 in order, with the rounded average of the 30 upper-envelope
// values after k (k <= 29) or before k. The window sums are running sums of whole numbers, hence
// exact.
template <int C, class F> inline void for_each_average30(const D<C>* up, F f) {
  D<C> ahead = splat<C>(0.0), behind = splat<C>(0.0);
  for (int j = 1; j <= 30; ++j)
    ahead = ahead + up[j];
  for (int j = 0; j <= 29; ++j)
    behind = behind + up[j];
  const D<C> thirty = splat<C>(30.0);
  for (int k = 0; k < kS; ++k) {
    if (k <= 29) {
      f(k, round_even(ahead / thirty));
      if (k < 29) ahead = ahead - up[k + 1] + up[k + 31];
    } else {
      f(k, round_even(behind / thirty));
      if (k < kS - 1) behind = behind + up[k] - up[k - 30];
    }
  }
}

// Fills line[k] = rounded first(average) for k < 4 and rounded step(k, average) (the average of
// the term and the three lines before) for k = 4..499. Unless Saturate, rounds without the
// 16-bit saturation and returns false if that could have made a difference, that is if some
// value was outside +-32767 or not a number.
template <int C, bool Saturate, class First, class Step>
bool fill_line(const D<C>* up, D<C>* line, First first, Step step) {
  const Vec limit = vsplat(32767.0);
  M<C> ok = splat<C>(0.0) == splat<C>(0.0);
  for_each_average30(up, [&](int k, const D<C>& average) {
    if (k < 4) {
      line[k] = round16(first(average));
      return;
    }
    const D<C> v = step(k, average);
    if constexpr (Saturate) {
      line[k] = round16(v);
    } else {
      for (int i = 0; i < C; ++i)
        ok.c[i] = mand(ok.c[i], vle(vabs(v.c[i]), limit));
      line[k] = round_even(v);
    }
  });
  return all(ok);
}

template <int C, class First, class Step>
void fill_line(const D<C>* up, D<C>* line, First first, Step step) {
  if (!fill_line<C, false>(up, line, first, step)) fill_line<C, true>(up, line, first, step);
}

// Clip line from the envelope averages, and the samples above it lowered.
template <int C> void clip(Lanes<C>& w) {
  const D<C> hundred = splat<C>(100.0), quarter = splat<C>(0.25); // x / 4 == x * 0.25 exactly
  const D<C> t = w.T + hundred;
  D<C>* line = w.line;
  fill_line<C>(
      w.up, line, [&](const D<C>& average) { return t / hundred * average; },
      [&](int k, const D<C>& average) {
        return (t * average / hundred + line[k - 3] + line[k - 1] + line[k - 2]) * quarter;
      });
  for (int k = 0; k < kS; ++k) {
    w.lowered[k] = (line[k] < w.x[k]).bits() != 0;
    w.x[k] = min(w.x[k], line[k]);
  }
}

// Detection line of methods 0 and 1 (threshold below the envelope) or 3 (fraction thr of it).
template <int C> void detection_line(Lanes<C>& w, bool fraction, double thr) {
  const D<C> hundred = splat<C>(100.0), quarter = splat<C>(0.25);
  D<C>* line = w.line;
  if (!fraction) {
    const D<C> start = (hundred - splat<C>(1.75) * w.T) / hundred, keep = hundred - w.T;
    fill_line<C>(
        w.up, line, [&](const D<C>& average) { return start * average; },
        [&](int k, const D<C>& average) {
          return (average * keep / hundred + line[k - 2] + line[k - 1] + line[k - 3]) * quarter;
        });
  } else {
    const D<C> part = splat<C>(thr);
    fill_line<C>(
        w.up, line, [&](const D<C>& average) { return average * part; },
        [&](int k, const D<C>& average) {
          return (line[k - 2] + line[k - 1] + line[k - 3] + average * part) * quarter;
        });
  }
}

// Method 0: at most one count per 30-sample window, at the window's last sample.
template <int C> void count_windows(Lanes<C>& w) {
  M<C> dip = splat<C>(0.0) < splat<C>(0.0), none = dip;
  D<C> count = splat<C>(0.0);
  int window = 0;
  for (int u = 0; u < kS; ++u) {
    dip = dip | (w.x[u] < w.line[u]);
    if (u > 0) window = window == 30 ? 1 : window + 1;
    const M<C> hit = window == 30 ? dip : none;
    if (window == 30) dip = none;
    w.hit[u] = hit;
    count = count + ones(hit);
  }
  w.count = count;
}

// Method 1: one count per downward crossing of the line.
template <int C> void count_crossings(Lanes<C>& w) {
  M<C> armed = splat<C>(0.0) < splat<C>(0.0);
  D<C> count = splat<C>(0.0);
  for (int u = 0; u < kS; ++u) {
    const M<C> hit = and_not(w.x[u] < w.line[u], armed);
    armed = and_not(armed | hit, w.line[u] < w.x[u]);
    w.hit[u] = hit;
    count = count + ones(hit);
  }
  w.count = count;
}

// Method 3: one count per downward crossing of the line by the two-sample mean.
template <int C> void count_mean_crossings(Lanes<C>& w) {
  M<C> armed = splat<C>(0.0) < splat<C>(0.0);
  D<C> count = splat<C>(0.0);
  const D<C> two = splat<C>(2.0);
  w.hit[0] = splat<C>(0.0) < splat<C>(0.0);
  for (int u = 1; u < kS; ++u) {
    const D<C> mean = (w.x[u - 1] + w.x[u]) / two;
    const M<C> hit = and_not(mean < w.line[u], armed);
    armed = and_not(armed | hit, mean > w.line[u]);
    w.hit[u] = hit;
    count = count + ones(hit);
  }
  w.count = count;
}

// Method 2: the signal above its running minimum, smoothed over 10 samples.
template <int C> void motility_signal(Lanes<C>& w) {
  // Minimum of every 50-sample window [s, s + 49] from block prefix and suffix minima.
  for (int base = 0; base < kS; base += 50) {
    w.up[base] = w.x[base];
    for (int i = base + 1; i < base + 50; ++i)
      w.up[i] = min(w.up[i - 1], w.x[i]);
    w.low[base + 49] = w.x[base + 49];
    for (int i = base + 48; i >= base; --i)
      w.low[i] = min(w.low[i + 1], w.x[i]);
  }
  const D<C> cap = splat<C>(9999.0); // where the search for the minimum starts
  // Smoothing in place: windows ahead of v hold integers (exact sums); the last 51 windows
  // reach back over values already smoothed and are summed in the same order as always.
  D<C> acc = splat<C>(0.0);
  w.pre[0] = acc;
  for (int v = 0; v < kS; ++v) {
    const int from = v < 449 ? v : v - 49;
    const D<C> m = min(min(cap, w.low[from]), w.up[from + 49]);
    w.mins[v] = m;
    acc = acc + m;
    w.pre[v + 1] = acc;
  }
  const D<C> fifty = splat<C>(50.0), ten = splat<C>(10.0), zero = splat<C>(0.0);
  // The 10-sample averages are formed as soon as their last difference is known, while the
  // differences are still in cache.
  const auto average10 = [&](int i) {
    const int from = i < 489 ? i : i - 9;
    // Starting from the first term rather than 0 + it: no difference is -0.0, so the same sum.
    D<C> sum = w.d[from];
    for (int t = from + 1; t < from + 10; ++t)
      sum = sum + w.d[t];
    w.s[i] = sum / ten;
  };
  for (int v = 0; v < 449; ++v) {
    w.b[v] = (w.pre[v + 50] - w.pre[v]) / fifty;
    w.d[v] = w.x[v] - w.b[v];
    if (v >= 9) average10(v - 9);
  }
  // Each sum runs from b[v - 49] upwards; its terms below 449 do not depend on the recursion,
  // so those partial sums are formed first, side by side, and the rest is added in order.
  D<C> head[kS - 449];
  for (int v = 449; v < kS; ++v) {
    D<C> sum = zero;
    for (int t = v - 49; t < 449; ++t)
      sum = sum + w.b[t];
    head[v - 449] = sum;
  }
  for (int v = 449; v < kS; ++v) {
    D<C> sum = head[v - 449];
    for (int t = std::max(449, v - 49); t < v; ++t)
      sum = sum + w.b[t];
    w.b[v] = (sum + w.mins[v]) / fifty;
    w.d[v] = w.x[v] - w.b[v];
  }
  for (int i = 440; i < kS; ++i)
    average10(i);
}

// Method 2: counts where a rise or fall has lasted 10 samples and exceeds the amplitude. The
// detection line (the smoothed signal less the amplitude) is left to motility_line.
template <int C> void count_runs(Lanes<C>& w) {
  const Vec zero = vsplat(0.0), one = vsplat(1.0), ten = vsplat(10.0), magic = vsplat(kMagic);
  // Two vectors of lanes at a time: the trackers' state stays in registers and the two
  // recurrences overlap.
  constexpr int kPairs = C % 2 == 0 ? 2 : 1;
  for (int i = 0; i < C; i += kPairs) {
    Vec depth[kPairs], run[kPairs], level[kPairs], count[kPairs];
    Mask rising[kPairs];
    for (int p = 0; p < kPairs; ++p) {
      depth[p] = w.depth.c[i + p];
      rising[p] = vlt(zero, zero);
      run[p] = level[p] = count[p] = zero;
      w.hit[0].c[i + p] = rising[p];
    }
    for (int u = 1; u < kS; ++u) {
      for (int p = 0; p < kPairs; ++p) {
        const Vec now = w.s[u].c[i + p], before = w.s[u - 1].c[i + p];
        const Mask up = vgt(now, before), down = vlt(now, before);
        // A rise or fall either continues the run or, when the direction changes, turns.
        const Mask next = mor(up, mand_not(rising[p], down));
        const Mask turn = mxor(next, rising[p]);
        rising[p] = next;
        // A turn restarts the run at +0.0, as a select of zero would.
        run[p] = vdrop(turn, vadd(run[p], vkeep(mor(up, down), one)));
        level[p] = vselect(turn, vsub(vadd(now, magic), magic), level[p]);
        const Mask hit = mand(vgt(vabs(vsub(level[p], now)), depth[p]), veq(run[p], ten));
        w.hit[u].c[i + p] = hit;
        count[p] = vadd(count[p], vkeep(hit, one));
      }
    }
    for (int p = 0; p < kPairs; ++p)
      w.count.c[i + p] = count[p];
  }
}

// Detection line of method 2 for one lane: rounded s[u] - D for u = 1..499.
template <int C> void motility_line(const Lanes<C>& w, int lane, std::int16_t* line) {
  const double depth = w.depth[lane];
  for (int u = 1; u < kS; ++u) {
    const D<1> v = splat<1>(w.s[u][lane] - depth);
    line[u] = static_cast<std::int16_t>(round16(v)[0]);
  }
}

// Counts the lanes. Returns false for a method out of range (nothing counted).
template <int C> bool count_lanes(Lanes<C>& w, double thr, int method) {
  envelopes(w, 1, false, thr);
  clip(w);
  envelopes(w, 2, true, thr);
  if (method < 0 || method > 3) {
    w.count = splat<C>(0.0);
    return false;
  }
  if (method == 2) {
    motility_signal(w);
    count_runs(w);
    return true;
  }
  detection_line(w, method == 3, thr);
  if (method == 0)
    count_windows(w);
  else if (method == 1)
    count_crossings(w);
  else
    count_mean_crossings(w);
  return true;
}

} // namespace kestrova::acquisition::detail::KESTROVA_LANES_NS
