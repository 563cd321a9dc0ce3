#pragma once

// Internal to detection.cpp: activity detection of several channels side by side.
//
// Every quantity is held as a double, which represents the 16-bit samples and their 32-bit sums
// exactly, in vectors of two lanes that the baseline instruction set handles natively. C chunks
// give 2C lanes; independent lanes let the serial recurrences (clip and detection lines) of
// several channels overlap. Each lane computes exactly what the scalar formulas give: the same
// operations in the same order, and half-to-even rounding by the FPU's own rounding mode.

#include <algorithm>
#include <cfloat>
#include <cstdint>
#if defined(__SSE2__) && !defined(KESTROVA_DETECTION_GENERIC)
#include <emmintrin.h>
#endif

#include "acquisition/detection.hpp"
#include "common/rounding.hpp"

static_assert(FLT_EVAL_METHOD == 0, "detection needs strict double evaluation");

namespace kestrova::acquisition::detail {

constexpr int kS = kDetectionSamples;
constexpr double kMagic = 6755399441055744.0; // 1.5 * 2^52

// Two lanes of doubles and a mask of two lanes (all ones / all zeros per lane). On x86 the
// SSE2 intrinsics keep every operation, selects included, in vector registers.
#if defined(__SSE2__) && !defined(KESTROVA_DETECTION_GENERIC)
using V2 = __m128d;
using M2 = __m128d;
inline V2 add2(V2 a, V2 b) { return _mm_add_pd(a, b); }
inline V2 sub2(V2 a, V2 b) { return _mm_sub_pd(a, b); }
inline V2 mul2(V2 a, V2 b) { return _mm_mul_pd(a, b); }
inline V2 div2(V2 a, V2 b) { return _mm_div_pd(a, b); }
inline M2 lt2(V2 a, V2 b) { return _mm_cmplt_pd(a, b); }
inline M2 gt2(V2 a, V2 b) { return _mm_cmpgt_pd(a, b); }
inline M2 eq2(V2 a, V2 b) { return _mm_cmpeq_pd(a, b); }
inline M2 le2(V2 a, V2 b) { return _mm_cmple_pd(a, b); }
inline V2 abs2(V2 a) { return _mm_andnot_pd(_mm_set1_pd(-0.0), a); }
inline M2 and2(M2 a, M2 b) { return _mm_and_pd(a, b); }
inline M2 or2(M2 a, M2 b) { return _mm_or_pd(a, b); }
inline M2 and_not2(M2 a, M2 b) { return _mm_andnot_pd(b, a); }
inline M2 xor2(M2 a, M2 b) { return _mm_xor_pd(a, b); }
inline V2 select2(M2 m, V2 a, V2 b) { return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b)); }
inline V2 splat2(double v) { return _mm_set1_pd(v); }
inline bool lane_set(M2 m, int j) { return (_mm_movemask_pd(m) >> j) & 1; }
inline bool all_set(M2 m) { return _mm_movemask_pd(m) == 3; }
inline V2 keep2(M2 m, V2 a) { return _mm_and_pd(m, a); }
inline V2 drop2(M2 m, V2 a) { return _mm_andnot_pd(m, a); }
inline V2 min2(V2 a, V2 b) { return _mm_min_pd(a, b); }
inline V2 max2(V2 a, V2 b) { return _mm_max_pd(a, b); }
#else
typedef double V2 __attribute__((vector_size(16)));
typedef std::int64_t M2 __attribute__((vector_size(16)));
inline V2 select2(M2 m, V2 a, V2 b) { return (V2)(((M2)a & m) | ((M2)b & ~m)); }
inline V2 add2(V2 a, V2 b) { return a + b; }
inline V2 sub2(V2 a, V2 b) { return a - b; }
inline V2 mul2(V2 a, V2 b) { return a * b; }
inline V2 div2(V2 a, V2 b) { return a / b; }
inline M2 lt2(V2 a, V2 b) { return a < b; }
inline M2 gt2(V2 a, V2 b) { return a > b; }
inline M2 eq2(V2 a, V2 b) { return a == b; }
inline M2 le2(V2 a, V2 b) { return a <= b; }
inline V2 abs2(V2 a) { return select2(a < V2{0.0, 0.0}, -a, a); }
inline M2 and2(M2 a, M2 b) { return a & b; }
inline M2 or2(M2 a, M2 b) { return a | b; }
inline M2 and_not2(M2 a, M2 b) { return a & ~b; }
inline M2 xor2(M2 a, M2 b) { return a ^ b; }
inline V2 splat2(double v) { return V2{v, v}; }
inline bool lane_set(M2 m, int j) { return m[j] != 0; }
inline bool all_set(M2 m) { return m[0] != 0 && m[1] != 0; }
inline V2 keep2(M2 m, V2 a) { return (V2)(m & (M2)a); }
inline V2 drop2(M2 m, V2 a) { return (V2)(~m & (M2)a); }
inline V2 min2(V2 a, V2 b) { return select2(a < b, a, b); }
inline V2 max2(V2 a, V2 b) { return select2(a > b, a, b); }
#endif

// 2C lanes of doubles, and the masks their comparisons give.
template <int C> struct D {
  V2 c[C];
  double operator[](int j) const { return c[j / 2][j % 2]; }
  void set(int j, double v) { c[j / 2][j % 2] = v; }
};
template <int C> struct M {
  M2 c[C];
  bool operator[](int j) const { return lane_set(c[j / 2], j % 2); }
};

template <int C, class R, class A, class F> inline R lanewise(const A& a, const A& b, F f) {
  R r;
  for (int i = 0; i < C; ++i)
    r.c[i] = f(a.c[i], b.c[i]);
  return r;
}

template <int C> D<C> operator+(const D<C>& a, const D<C>& b) {
  return lanewise<C, D<C>>(a, b, add2);
}
template <int C> D<C> operator-(const D<C>& a, const D<C>& b) {
  return lanewise<C, D<C>>(a, b, sub2);
}
template <int C> D<C> operator*(const D<C>& a, const D<C>& b) {
  return lanewise<C, D<C>>(a, b, mul2);
}
template <int C> D<C> operator/(const D<C>& a, const D<C>& b) {
  return lanewise<C, D<C>>(a, b, div2);
}
template <int C> M<C> operator<(const D<C>& a, const D<C>& b) {
  return lanewise<C, M<C>>(a, b, lt2);
}
template <int C> M<C> operator>(const D<C>& a, const D<C>& b) {
  return lanewise<C, M<C>>(a, b, gt2);
}
template <int C> M<C> operator==(const D<C>& a, const D<C>& b) {
  return lanewise<C, M<C>>(a, b, eq2);
}
template <int C> M<C> operator&(const M<C>& a, const M<C>& b) {
  return lanewise<C, M<C>>(a, b, and2);
}
template <int C> M<C> operator|(const M<C>& a, const M<C>& b) {
  return lanewise<C, M<C>>(a, b, or2);
}
// a and not b.
template <int C> M<C> and_not(const M<C>& a, const M<C>& b) {
  return lanewise<C, M<C>>(a, b, and_not2);
}

template <int C> inline D<C> splat(double v) {
  D<C> r;
  for (int i = 0; i < C; ++i)
    r.c[i] = splat2(v);
  return r;
}
template <int C> inline D<C> select(const M<C>& m, const D<C>& a, const D<C>& b) {
  D<C> r;
  for (int i = 0; i < C; ++i)
    r.c[i] = select2(m.c[i], a.c[i], b.c[i]);
  return r;
}
// a < b ? a : b, lane by lane (exact for the whole numbers held here).
template <int C> inline D<C> min(const D<C>& a, const D<C>& b) {
  return lanewise<C, D<C>>(a, b, min2);
}
template <int C> inline D<C> max(const D<C>& a, const D<C>& b) {
  return lanewise<C, D<C>>(a, b, max2);
}
// 1 where the mask is set, else 0.
template <int C> inline D<C> ones(const M<C>& m) {
  D<C> r;
  for (int i = 0; i < C; ++i)
    r.c[i] = keep2(m.c[i], splat2(1.0));
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

// Working arrays of 2C channels side by side: lane j of entry k is sample k of channel j.
template <int C> struct Lanes {
  static constexpr int kLanes = 2 * C;
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
};

// Envelopes starting from x[first], and their sums over k = 2..498, into the thresholds.
template <int C> void envelopes(Lanes<C>& w, int first, bool second_pass, double thr) {
  D<C> sum_ul, sum_x;
  // One pair of lanes at a time keeps the working values in registers.
  for (int i = 0; i < C; ++i) {
    V2 lo = w.x[first].c[i], hi = lo;
    w.up[0].c[i] = w.up[1].c[i] = lo;
    V2 su = splat2(0.0), sx = splat2(0.0);
    V2 xp = w.x[1].c[i], xc = w.x[2].c[i];
    for (int k = 2; k <= 498; ++k) {
      const V2 xn = w.x[k + 1].c[i];
      lo = select2(lt2(xc, min2(xp, xn)), xc, lo);
      hi = select2(gt2(xc, max2(xp, xn)), xc, hi);
      w.up[k].c[i] = hi;
      su = add2(su, sub2(hi, lo));
      sx = add2(sx, xc);
      xp = xc;
      xc = xn;
    }
    sum_ul.c[i] = su;
    sum_x.c[i] = sx;
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
  const V2 limit = splat2(32767.0);
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
        ok.c[i] = and2(ok.c[i], le2(abs2(v.c[i]), limit));
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
  for (int k = 0; k < kS; ++k)
    w.x[k] = min(w.x[k], line[k]);
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
  const V2 zero = splat2(0.0), one = splat2(1.0), ten = splat2(10.0), magic = splat2(kMagic);
  // Two pairs of lanes at a time: the trackers' state stays in registers and the two
  // recurrences overlap.
  constexpr int kPairs = C % 2 == 0 ? 2 : 1;
  for (int i = 0; i < C; i += kPairs) {
    V2 depth[kPairs], run[kPairs], level[kPairs], count[kPairs];
    M2 rising[kPairs];
    for (int p = 0; p < kPairs; ++p) {
      depth[p] = w.depth.c[i + p];
      rising[p] = lt2(zero, zero);
      run[p] = level[p] = count[p] = zero;
      w.hit[0].c[i + p] = rising[p];
    }
    for (int u = 1; u < kS; ++u) {
      for (int p = 0; p < kPairs; ++p) {
        const V2 now = w.s[u].c[i + p], before = w.s[u - 1].c[i + p];
        const M2 up = gt2(now, before), down = lt2(now, before);
        // A rise or fall either continues the run or, when the direction changes, turns.
        const M2 next = or2(up, and_not2(rising[p], down));
        const M2 turn = xor2(next, rising[p]);
        rising[p] = next;
        // A turn restarts the run at +0.0, as a select of zero would.
        run[p] = drop2(turn, add2(run[p], keep2(or2(up, down), one)));
        level[p] = select2(turn, sub2(add2(now, magic), magic), level[p]);
        const M2 hit = and2(gt2(abs2(sub2(level[p], now)), depth[p]), eq2(run[p], ten));
        w.hit[u].c[i + p] = hit;
        count[p] = add2(count[p], keep2(hit, one));
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

} // namespace kestrova::acquisition::detail
