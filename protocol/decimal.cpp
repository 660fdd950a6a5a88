#include "protocol/decimal.h"

#include <cmath>
#include <cstdint>

namespace pesolan {
namespace {

// An unsigned integer of 256 bits: room for every number met here. A text
// of 24 digits is below 2^80, and scaled up before a division it keeps far
// more than the 53 bits a double needs; a weight below 10^40 with 17
// decimals is below 2^190.
class Wide {
 public:
  static constexpr int kLimbs = 8;
  static constexpr int kBits = 32 * kLimbs;

  explicit Wide(uint64_t value = 0) {
    limb_[0] = static_cast<uint32_t>(value);
    limb_[1] = static_cast<uint32_t>(value >> 32);
  }

  bool IsZero() const { return BitLength() == 0; }

  int BitLength() const {
    for (int i = kLimbs - 1; i >= 0; --i) {
      if (limb_[i] == 0) continue;
      int bits = 32;
      while (((limb_[i] >> (bits - 1)) & 1u) == 0) --bits;
      return i * 32 + bits;
    }
    return 0;
  }

  bool Bit(int i) const { return i >= 0 && i < kBits && ((limb_[i / 32] >> (i % 32)) & 1u) != 0; }

  // Whether any of the bits below bit n is set.
  bool AnyBelow(int n) const {
    if (n > kBits) n = kBits;
    for (int i = 0; i < n / 32; ++i) {
      if (limb_[i] != 0) return true;
    }
    return n % 32 != 0 && (limb_[n / 32] & ((1u << (n % 32)) - 1u)) != 0;
  }

  // this * m + a, for numbers that stay within the 256 bits.
  void MulAdd(uint32_t m, uint32_t a) {
    uint64_t carry = a;
    for (uint32_t& limb : limb_) {
      const uint64_t v = static_cast<uint64_t>(limb) * m + carry;
      limb = static_cast<uint32_t>(v);
      carry = v >> 32;
    }
  }

  // this / d, returning the remainder.
  uint32_t DivSmall(uint32_t d) {
    uint64_t rest = 0;
    for (int i = kLimbs - 1; i >= 0; --i) {
      const uint64_t current = (rest << 32) | limb_[i];
      limb_[i] = static_cast<uint32_t>(current / d);
      rest = current % d;
    }
    return static_cast<uint32_t>(rest);
  }

  void ShiftLeft(int n) {
    const int limbs = n / 32, bits = n % 32;
    for (int i = kLimbs - 1; i >= 0; --i) {
      const int from = i - limbs;
      uint32_t v = 0;
      if (from >= 0) v = limb_[from] << bits;
      if (from > 0 && bits != 0) v |= limb_[from - 1] >> (32 - bits);
      limb_[i] = v;
    }
  }

  void ShiftRight(int n) {
    const int limbs = n / 32, bits = n % 32;
    for (int i = 0; i < kLimbs; ++i) {
      const int from = i + limbs;
      uint32_t v = 0;
      if (from < kLimbs) v = limb_[from] >> bits;
      if (from + 1 < kLimbs && bits != 0) v |= limb_[from + 1] << (32 - bits);
      limb_[i] = v;
    }
  }

  uint64_t Low64() const { return limb_[0] | static_cast<uint64_t>(limb_[1]) << 32; }

 private:
  uint32_t limb_[kLimbs] = {};
};

// (q + a fraction that is non-zero when sticky) * 2^exponent, rounded to
// the nearest double, ties to even. q has more than 54 bits. Every step is
// exact in integers, so no floating-point unit's precision (the x87's
// included) takes part.
double ToDouble(Wide q, bool sticky, int exponent) {
  const int drop = q.BitLength() - 53;
  const bool half = q.Bit(drop - 1);
  const bool above = sticky || q.AnyBelow(drop - 1);
  q.ShiftRight(drop);
  uint64_t mantissa = q.Low64();
  if (half && (above || (mantissa & 1u) != 0)) ++mantissa;  // 2^53 is still exact
  return std::ldexp(static_cast<double>(mantissa), exponent + drop);
}

constexpr double kLargestWritten = 1e40;

// a * 10^decimals rounded to a whole number, ties to even; a is finite,
// not negative and below kLargestWritten.
Wide ScaledAndRounded(double a, int decimals) {
  int exponent = 0;
  const double fraction = std::frexp(a, &exponent);
  Wide n(static_cast<uint64_t>(std::ldexp(fraction, 53)));  // a = n * 2^(exponent - 53)
  for (int i = 0; i < decimals; ++i) n.MulAdd(10, 0);
  const int shift = exponent - 53;
  if (shift >= 0) {
    n.ShiftLeft(shift);
    return n;
  }
  if (-shift >= Wide::kBits) return Wide(0);  // far below one half
  const bool half = n.Bit(-shift - 1);
  const bool above = n.AnyBelow(-shift - 1);
  n.ShiftRight(-shift);
  if (half && (above || n.Bit(0))) n.MulAdd(1, 1);
  return n;
}

}  // namespace

double ReadDecimal(const char* text) {
  int i = 0;
  const bool negative = text[0] == '-';
  if (negative) ++i;
  Wide digits;
  int fraction = 0;
  bool point = false, anyDigit = false;
  for (; i < kMaxDecimalText && text[i] != '\0'; ++i) {
    const char c = text[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    digits.MulAdd(10, static_cast<uint32_t>(c - '0'));
    anyDigit = true;
    if (point) ++fraction;
  }
  if (digits.IsZero()) return negative && anyDigit ? -0.0 : 0.0;
  // Scaled up first, so that the quotient keeps far more than 53 bits.
  const int shift = Wide::kBits - 1 - digits.BitLength();
  digits.ShiftLeft(shift);
  bool sticky = false;
  for (int k = 0; k < fraction; ++k) sticky |= digits.DivSmall(10) != 0;
  const double value = ToDouble(digits, sticky, -shift);
  return negative ? -value : value;
}

int WriteFixed(double x, int decimals, char* out, std::size_t size) {
  if (size > 0) out[0] = '\0';
  if (!std::isfinite(x) || decimals < 0 || decimals > kMaxFixedDecimals || std::fabs(x) >= kLargestWritten) return -1;
  Wide n = ScaledAndRounded(std::fabs(x), decimals);
  char reversed[80];  // 10^57 has 58 digits
  int count = 0;
  do {
    reversed[count++] = static_cast<char>('0' + n.DivSmall(10));
  } while (!n.IsZero());
  while (count <= decimals) reversed[count++] = '0';  // a digit before the point
  const bool negative = std::signbit(x);
  const int length = (negative ? 1 : 0) + count + (decimals > 0 ? 1 : 0);
  if (static_cast<std::size_t>(length) + 1 > size) return -1;
  char* p = out;
  if (negative) *p++ = '-';
  for (int i = count - 1; i >= 0; --i) {
    *p++ = reversed[i];
    if (i == decimals && decimals > 0) *p++ = '.';
  }
  *p = '\0';
  return length;
}

}  // namespace pesolan
