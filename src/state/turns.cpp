#include "state/turns.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

// Everything here is exact IEEE double arithmetic: sums and products rounded
// to nearest, never fused (the build turns contraction off), so the values
// are the same on any machine.
namespace {

// A value carried as the unevaluated sum of two doubles (about 106 bits).
struct Wide {
  double hi, lo;
};

Wide TwoSum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

Wide QuickTwoSum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

// The exact product a * b as hi + lo (Dekker).
Wide TwoProduct(double a, double b) {
  auto split = [](double v, double& hi, double& lo) {
    const double t = 134217729.0 * v;  // 2^27 + 1
    hi = t - (t - v);
    lo = v - hi;
  };
  const double p = a * b;
  double ah, al, bh, bl;
  split(a, ah, al);
  split(b, bh, bl);
  return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

Wide Add(Wide a, Wide b) {
  Wide s = TwoSum(a.hi, b.hi);
  const Wide t = TwoSum(a.lo, b.lo);
  s = QuickTwoSum(s.hi, s.lo + t.hi);
  return QuickTwoSum(s.hi, s.lo + t.lo);
}

Wide Multiply(Wide a, Wide b) {
  Wide p = TwoProduct(a.hi, b.hi);
  return QuickTwoSum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

Wide Negate(Wide a) { return {-a.hi, -a.lo}; }

// 1/n! for n = 0..29 as two doubles each.
constexpr double kInverseFactorial[30][2] = {
    {1, 0},
    {1, 0},
    {0x1.0000000000000p-1, 0},
    {0x1.5555555555555p-3, 0x1.5555555555555p-57},
    {0x1.5555555555555p-5, 0x1.5555555555555p-59},
    {0x1.1111111111111p-7, 0x1.1111111111111p-63},
    {0x1.6c16c16c16c17p-10, -0x1.f49f49f49f49fp-65},
    {0x1.a01a01a01a01ap-13, 0x1.a01a01a01a01ap-73},
    {0x1.a01a01a01a01ap-16, 0x1.a01a01a01a01ap-76},
    {0x1.71de3a556c734p-19, -0x1.c154f8ddc6c00p-73},
    {0x1.27e4fb7789f5cp-22, 0x1.cbbc05b4fa99ap-76},
    {0x1.ae64567f544e4p-26, -0x1.c062e06d1f209p-80},
    {0x1.1eed8eff8d898p-29, -0x1.2aec959e14c06p-83},
    {0x1.6124613a86d09p-33, 0x1.f28e0cc748ebep-87},
    {0x1.93974a8c07c9dp-37, 0x1.05d6f8a2efd1fp-92},
    {0x1.ae7f3e733b81fp-41, 0x1.1d8656b0ee8cbp-97},
    {0x1.ae7f3e733b81fp-45, 0x1.1d8656b0ee8cbp-101},
    {0x1.952c77030ad4ap-49, 0x1.ac981465ddc6cp-103},
    {0x1.6827863b97d97p-53, 0x1.eec01221a8b0bp-107},
    {0x1.2f49b46814157p-57, 0x1.2650f61dbdcb4p-112},
    {0x1.e542ba4020225p-62, 0x1.ea72b4afe3c2fp-120},
    {0x1.71b8ef6dcf572p-66, -0x1.d043ae40c4647p-120},
    {0x1.0ce396db7f853p-70, -0x1.aebcdbd20331cp-124},
    {0x1.761b41316381ap-75, -0x1.3423c7d91404fp-130},
    {0x1.f2cf01972f578p-80, -0x1.9ada5fcc1ab14p-135},
    {0x1.3f3ccdd165fa9p-84, -0x1.58ddadf344487p-139},
    {0x1.88e85fc6a4e5ap-89, -0x1.71c37ebd16540p-143},
    {0x1.d1ab1c2dccea3p-94, 0x1.054d0c78aea14p-149},
    {0x1.0a18a2635085dp-98, 0x1.b9e2e28e1aa54p-153},
    {0x1.259f98b4358adp-103, 0x1.eaf8c39dd9bc5p-157},
};

// sin r (first = 1) or cos r (first = 0) for |r| <= pi/4 + a little, to
// about 2^-104: the Taylor series to its 14th term, in r^2 by Horner's rule.
Wide Series(Wide r, int first) {
  const Wide r2 = Multiply(r, r);
  int n = first + 26;
  Wide sum{kInverseFactorial[n][0], kInverseFactorial[n][1]};
  for (n -= 2; n >= first; n -= 2)
    sum = Add(Negate(Multiply(sum, r2)), Wide{kInverseFactorial[n][0], kInverseFactorial[n][1]});
  return first == 1 ? Multiply(sum, r) : sum;
}

struct SinCos {
  double sin, cos;
};

// Correctly rounded (but for a value closer than about 2^-100 to halfway
// between two doubles, which no angle of play comes near) for |x| < 2^27.
SinCos ExactSinCos(double x) {
  // x = k * pi/2 + r, with pi/2 in four parts: the first three have 26
  // significant bits, so their products with k (|k| < 2^27) are exact.
  const double k = std::nearbyint(x * 0x1.45f306dc9c883p-1);
  Wide r = TwoSum(x, -k * 0x1.921fb50000000p+0);
  r = Add(r, Wide{-k * 0x1.110b460000000p-26, 0});
  r = Add(r, Wide{-k * 0x1.1a62630000000p-54, 0});
  r = Add(r, TwoProduct(-k, 0x1.8a2e03707344ap-81));
  const Wide s = Series(r, 1), c = Series(r, 0);
  const double sv = s.hi + s.lo, cv = c.hi + c.lo;
  switch (static_cast<int64_t>(k) & 3) {
    case 0: return {sv, cv};
    case 1: return {cv, -sv};
    case 2: return {-sv, -cv};
    default: return {-cv, sv};
  }
}

// Play's angles stay within a few thousand degrees: those are looked up.
constexpr int32_t kTableFrom = -4096, kTableTo = 4096;

const std::vector<SinCos>& Table() {
  static const std::vector<SinCos> table = [] {
    std::vector<SinCos> t(size_t(kTableTo - kTableFrom));
    for (int32_t a = kTableFrom; a < kTableTo; ++a) t[size_t(a - kTableFrom)] = ExactSinCos(a * kTurnRadians);
    return t;
  }();
  return table;
}

SinCos Turn(int32_t degrees) {
  if (degrees >= kTableFrom && degrees < kTableTo) return Table()[size_t(degrees - kTableFrom)];
  return ExactSinCos(degrees * kTurnRadians);
}

// The least slope q >= 0 at which |atan(q)| * 180 / 3.1415 reaches k + 1
// whole degrees, k = 0..89, with atan correctly rounded (worked out once to
// 200 bits).
constexpr double kSlopeSteps[90] = {
    0x1.1df9b062aecd1p-6, 0x1.1e0ffffd9888ap-5, 0x1.ad4fd4eeabfafp-5, 0x1.1e69683f7ced5p-4,
    0x1.6657cb200c321p-4, 0x1.ae7e811cd4c90p-4, 0x1.f6e91bc9f4f35p-4, 0x1.1fd1abe888535p-3,
    0x1.445c9258817aep-3, 0x1.691b56618cbe7p-3, 0x1.8e142ec8c7c2bp-3, 0x1.b34d7845e099bp-3,
    0x1.d8cdba12b92efp-3, 0x1.fe9baab7c60cfp-3, 0x1.125f1a8e78d7dp-2, 0x1.259e3ef3bdc98p-2,
    0x1.390ef4970893cp-2, 0x1.4cb51046a0f51p-2, 0x1.60948cd3b9610p-2, 0x1.74b18e8e4dd72p-2,
    0x1.89106703b55eep-2, 0x1.9db5990773073p-2, 0x1.b2a5dd0ead73ep-2, 0x1.c7e625e7acf00p-2,
    0x1.dd7ba5d7dc55fp-2, 0x1.f36bd42c0e478p-2, 0x1.04de39a41e543p-1, 0x1.1039cba2d1c46p-1,
    0x1.1bcbd69801d99p-1, 0x1.2797c17a87283p-1, 0x1.33a1280dc3a00p-1, 0x1.3febdfad4eca5p-1,
    0x1.4c7bfc96b190ap-1, 0x1.5955d7c12121ap-1, 0x1.667e155576eb9p-1, 0x1.73f9abdb54991p-1,
    0x1.81cdec3389275p-1, 0x1.90008a7b7e0f5p-1, 0x1.9e97a7f9cc6e7p-1, 0x1.ad99de393b965p-1,
    0x1.bd0e4b7d7d42bp-1, 0x1.ccfca0c4323d2p-1, 0x1.dd6d318d5a714p-1, 0x1.ee6905b09a4c3p-1,
    0x1.fff9ed911455ep-1, 0x1.09154c8838726p+0, 0x1.128358d9d265dp+0, 0x1.1c4d7c40ec2cep+0,
    0x1.267ab420353ddp+0, 0x1.3112ae67d13dcp+0, 0x1.3c1de049df708p+0, 0x1.47a5a083d5d68p+0,
    0x1.53b445ea2b78ap+0, 0x1.60554b0a593e2p+0, 0x1.6d9577e7add6ap+0, 0x1.7b831314b9eb2p+0,
    0x1.8a2e1bb918db9p+0, 0x1.99a88e7748bb0p+0, 0x1.aa06b7a735261p+0, 0x1.bb5f9601b75e1p+0,
    0x1.cdcd51b4f0c20p+0, 0x1.e16dccfb9ebdbp+0, 0x1.f66354d47caefp+0, 0x1.066abd3fd66ccp+1,
    0x1.1279109643354p+1, 0x1.1f77678814ebfp+1, 0x1.2d852b342bd28p+1, 0x1.3cc77931b5ceap+1,
    0x1.4d6a7f46fd3b3p+1, 0x1.5fa33f6cb7465p+1, 0x1.73b1e2897c1dap+1, 0x1.89e4d163d60a9p+1,
    0x1.a29ce565a9c29p+1, 0x1.be532b975f7f3p+1, 0x1.dda0f57dedfc7p+1, 0x1.00a5af5f75c2ep+2,
    0x1.152a11ee31a41p+2, 0x1.2d0971ea03632p+2, 0x1.492e13cbf5a37p+2, 0x1.6adfe968b9ce1p+2,
    0x1.93f89900922abp+2, 0x1.c73e864a956cbp+2, 0x1.0486edd6d0149p+3, 0x1.305544c781dc3p+3,
    0x1.6d93d3a6bed0dp+3, 0x1.c9549432fdcf9p+3, 0x1.31096cc2f2792p+4, 0x1.c995f530aabc5p+4,
    0x1.c91e9d0c4c1f1p+5, 0x1.51471ea4bead2p+14,
};

}  // namespace

double TurnCos(int32_t degrees) { return Turn(degrees).cos; }
double TurnSin(int32_t degrees) { return Turn(degrees).sin; }

int SlopeDegrees(double q) {
  q = std::fabs(q);
  return int(std::upper_bound(std::begin(kSlopeSteps), std::end(kSlopeSteps), q) - std::begin(kSlopeSteps));
}
