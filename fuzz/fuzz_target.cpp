// libFuzzer target: reads its input as a program of operations on a few
// fixedint and fixedfloat numbers of lengths 0 to 40, and checks every
// outcome. Only the documented exceptions, with their documented messages,
// may come out of an operation; where the lengths allow, every result is
// compared with an __int128 reference; after every step the numbers must keep
// their invariants. Anything else aborts, which libFuzzer reports as a finding.
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <veldar/diagnostics.h>
#include <veldar/fixedfloat.h>
#include <veldar/fixedint.h>

namespace {

using VELDAR::fixedfloat;
using VELDAR::fixedint;
__extension__ typedef __int128 int128;  // NOLINT(modernize-use-using): __extension__ needs typedef

void require(bool holds, const std::string& what) {
  if (!holds) {
    std::fprintf(stderr, "veldar-fuzz finding: %s\n", what.c_str());
    std::abort();
  }
}

// The input, read front to back; zeros once it is used up.
class programtext {
 public:
  programtext(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}
  bool done() const { return position >= size; }
  std::uint8_t byte() { return position < size ? data[position++] : 0; }
  std::uint64_t word(int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
      value = value << 8U | byte();
    }
    return value;
  }
  unsigned long long length() { return byte() % 41; }
  float anyfloat() {
    const auto bits = static_cast<std::uint32_t>(word(4));
    float x = 0;
    std::memcpy(&x, &bits, sizeof x);
    return x;
  }
  // Short text from an alphabet that makes numbers and near-numbers.
  std::string text() {
    static constexpr char alphabet[] = "0123456789012345678900000-+.. e";
    std::string out(byte() % 24, ' ');
    std::generate(out.begin(), out.end(), [this] { return alphabet[byte() % (sizeof alphabet - 1)]; });
    return out;
  }

 private:
  const std::uint8_t* data;
  std::size_t size;
  std::size_t position = 0;
};

// Runs `operation`; a documented exception is fine and reported as true.
bool threwdocumented(const std::function<void()>& operation) {
  try {
    operation();
    return false;
  } catch (const std::overflow_error& error) {
    require(std::string(error.what()) == "Overflow occured.", error.what());
  } catch (const std::runtime_error& error) {
    require(std::string(error.what()) == "length should be able to be divided by 2!", error.what());
  } catch (const std::length_error& error) {
    const std::string what = error.what();
    require(what == "Int sizes are not equal!" || what == "Size is not equal!" ||
                what == "Fraction of float too big to fit in fixedfloat!",
            what);
  } catch (const std::out_of_range& error) {
    const std::string what = error.what();
    require(what == "Input int bigger than size!" || what == "Val too small for fixedfloat!", what);
  } catch (const std::invalid_argument& error) {
    const std::string what = error.what();
    require(what == "Not a decimal number!" || what == "Float is not a number!", what);
  }
  return true;
}

int128 power10(unsigned long long exponent) {
  int128 p = 1;
  for (unsigned long long i = 0; i < exponent; ++i) {
    p *= 10;
  }
  return p;
}

// Reference view of a number: its sign flag and magnitude, read digit by digit.
struct exact {
  bool negative;
  int128 magnitude;
};

constexpr unsigned long long referencelimit = 18;  // products stay below 10^36

exact read(const fixedint& number) {
  require(number.digits.size() <= 36, "harness: reference read of a number too long for __int128");
  int128 magnitude = 0;
  std::for_each(number.digits.rbegin(), number.digits.rend(), [&magnitude](signed char d) { magnitude = magnitude * 10 + d; });
  return {number.negative, magnitude};
}

std::string decimal(int128 magnitude) {
  std::string text;
  do {
    text.insert(text.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude > 0);
  return text;
}

std::string textof(exact x, unsigned long long length) {
  return (x.negative ? "-" : "") + (length == 0 ? "" : decimal(x.magnitude));
}

// The fixed-point text of a scaled magnitude.
std::string fixedtext(bool negative, int128 scaled, unsigned long long half) {
  std::string fraction = decimal(scaled % power10(half)).substr(half == 0 ? 1 : 0);
  fraction.insert(0, half - std::min<std::size_t>(fraction.size(), half), '0');
  fraction.erase(fraction.find_last_not_of('0') + 1);
  return (negative ? "-" : "") + decimal(scaled / power10(half)) + "." + (fraction.empty() ? "0" : fraction);
}

void checkinvariants(const fixedint& number) {
  require(number.digits.size() == number.length, "digit vector size differs from length");
  require(std::all_of(number.digits.begin(), number.digits.end(), [](signed char d) { return d >= 0 && d <= 9; }),
          "digit outside 0 to 9");
}

void checkinvariants(const fixedfloat& number) {
  checkinvariants(number.value);
  require(number.length % 2 == 0, "odd fixedfloat length");
  require(number.value.length == number.length, "value length differs");
  require(!number.value.negative, "value carries a sign");
}

struct machine {
  std::array<std::optional<fixedint>, 4> ints;
  std::array<std::optional<fixedfloat>, 4> floats;

  fixedint* intat(std::uint8_t slot) { return ints[slot % 4] ? &*ints[slot % 4] : nullptr; }
  fixedfloat* floatat(std::uint8_t slot) { return floats[slot % 4] ? &*floats[slot % 4] : nullptr; }

  void integerarithmetic(fixedint& a, fixedint& b, int op) {
    const bool checked = a.length == b.length && a.length <= referencelimit;
    const exact x = checked ? read(a) : exact{};
    const exact y = checked ? read(b) : exact{};
    const std::vector<signed char> before = a.digits;
    const bool issigned = a.issigned;
    const bool throws = a.throwonoverflow;
    const unsigned long long length = a.length;
    std::optional<fixedint> result;
    const bool threw = threwdocumented([&] { result.emplace(op == 0 ? a + b : op == 1 ? a - b : a * b); });
    if (length != b.length) {
      require(threw, "different lengths must throw");
      return;
    }
    require(a.issigned == issigned, "issigned not restored");
    if (!checked) {
      return;
    }
    const int128 modulus = power10(length);
    if (op == 2) {
      require(!threw, "multiplication threw");
      const exact expected{issigned && x.negative != y.negative, x.magnitude * y.magnitude % modulus};
      require(result->asstring() == textof(expected, length), "product " + textof(x, length) + " * " + textof(y, length));
      return;
    }
    const bool signs = op == 0 ? issigned : true;
    const exact right{op == 0 ? y.negative : !y.negative, y.magnitude};
    exact expected{};
    bool carry = false;
    if (signs && x.negative != right.negative) {
      const int128 difference = x.magnitude - right.magnitude;
      expected = {x.negative ? difference > 0 : difference < 0, difference < 0 ? -difference : difference};
    } else {
      const int128 sum = x.magnitude + right.magnitude;
      carry = sum >= modulus;
      expected = {x.negative, sum % modulus};
    }
    require(threw == (carry && throws), "overflow rule");
    if (threw) {
      require(a.digits == before, "left operand changed by a throwing addition");
      return;
    }
    require(result->asstring() == textof(expected, length), "sum " + textof(x, length) + (op == 0 ? " + " : " - ") + textof(y, length));
    require(read(a).magnitude == (carry ? 1 : x.magnitude), "carry hand-back");
  }

  void comparison(fixedint& a, fixedint& b) {
    bool equal = a.negative == b.negative && a.digits == b.digits;
    bool greater = a > b;
    if (std::max(a.length, b.length) <= 36) {
      const exact x = read(a);
      const exact y = read(b);
      const auto key = [](exact v) { return std::make_pair(v.negative ? 0 : 1, v.negative ? -v.magnitude : v.magnitude); };
      equal = a.length == b.length && x.negative == y.negative && x.magnitude == y.magnitude;
      greater = key(x) > key(y);
    }
    require((a == b) == equal, "==");
    require((a != b) == !equal, "!=");
    require((a > b) == greater, ">");
    require((a < b) == (!greater && !equal), "<");
    require(!equal || std::hash<fixedint>{}(a) == std::hash<fixedint>{}(b), "hash differs for equal numbers");
  }

  void floatarithmetic(fixedfloat& a, fixedfloat& b, int op) {
    const bool checked = a.length == b.length && a.length <= 16;
    const exact x{a.negative, checked ? read(a.value).magnitude : 0};
    const exact y{b.negative, checked ? read(b.value).magnitude : 0};
    const bool issigned = a.issigned;
    const std::string before = a.length <= 36 ? a.asstring() : "";
    std::optional<fixedfloat> result;
    std::optional<bool> order;
    const bool threw = threwdocumented([&] {
      switch (op) {
        case 0: result.emplace(a * b); break;
        case 1: result.emplace(a + b); break;
        case 2: result.emplace(a - b); break;
        case 3: order = a < b; break;
        default: order = a == b; break;
      }
    });
    require(threw == (a.length != b.length), "fixed-point length rule");
    if (!checked) {
      return;
    }
    const unsigned long long half = a.length / 2;
    const int128 modulus = power10(a.length);
    const int128 vx = x.negative ? -x.magnitude : x.magnitude;
    const int128 vy = y.negative ? -y.magnitude : y.magnitude;
    if (op == 0) {
      const int128 product = x.magnitude * y.magnitude / power10(half) % modulus;
      require(result->asstring() == fixedtext(issigned && x.negative != y.negative, product, half), "fixed-point product");
    } else if (op <= 2) {
      const int128 sum = op == 1 ? vx + vy : vx - vy;
      const int128 magnitude = (sum < 0 ? -sum : sum) % modulus;
      require(result->asstring() == fixedtext(sum < 0 && magnitude != 0, magnitude, half), "fixed-point sum");
    } else {
      require(*order == (op == 3 ? vx < vy : vx == vy), "fixed-point comparison");
      require(op == 3 || !*order || std::hash<fixedfloat>{}(a) == std::hash<fixedfloat>{}(b), "fixed-point hash");
    }
    require(a.asstring() == before, "left fixed-point operand changed");
    if (result) {
      checkinvariants(*result);
    }
  }

  void step(programtext& in) {
    const std::uint8_t op = in.byte() % 24;
    const std::uint8_t i = in.byte();
    const std::uint8_t j = in.byte();
    fixedint* a = intat(i);
    fixedint* b = intat(j);
    fixedfloat* p = floatat(i);
    fixedfloat* q = floatat(j);
    switch (op) {
      case 0: {
        const unsigned long long length = in.length();
        threwdocumented([&] { ints[i % 4].emplace(length); });
        break;
      }
      case 1:
        if (a != nullptr) {
          const std::uint8_t shape = in.byte();
          const auto magnitude = static_cast<long long>(in.word(8) >> (shape % 64));
          const long long value = shape >= 128 ? -(magnitude & LLONG_MAX) : magnitude;
          const std::vector<signed char> before = a->digits;
          const bool negative = a->negative;
          const bool threw = threwdocumented([&] { *a = value; });
          const std::string text = std::to_string(value);
          require(threw == (text.size() - (value < 0 ? 1 : 0) > a->length), "integer assignment size rule");
          if (threw) {
            require(a->digits == before && a->negative == negative, "failed assignment changed the number");
          } else if (a->issigned) {
            require(a->asstring() == text, "integer assignment " + text);
          }
        }
        break;
      case 2:
        if (a != nullptr) {
          const std::string text = in.text();
          threwdocumented([&] { *a = text; });
        }
        break;
      case 3:
      case 4:
      case 5:
        if (a != nullptr && b != nullptr) {
          if (a == b) {
            fixedint copy(*b);
            integerarithmetic(*a, copy, op - 3);
          } else {
            integerarithmetic(*a, *b, op - 3);
          }
        }
        break;
      case 6:
        if (a != nullptr && b != nullptr) {
          comparison(*a, *b);
        }
        break;
      case 7:
        if (a != nullptr && a->length <= referencelimit) {
          const exact before = read(*a);
          const int128 modulus = power10(a->length);
          if (in.byte() % 2 == 0) {
            a->wholeshiftl();
            require(a->length == 0 || read(*a).magnitude == before.magnitude * 10 % modulus, "wholeshiftl");
          } else {
            a->wholeshiftr();
            require(read(*a).magnitude == before.magnitude / 10, "wholeshiftr");
          }
        }
        break;
      case 8:
        if (a != nullptr) {
          const unsigned long long length = in.length();
          const bool checked = a->length <= 36 && length <= 36;
          const exact before = checked ? read(*a) : exact{};
          a->resize(length);
          require(!checked || read(*a).magnitude == before.magnitude % power10(length), "resize");
        }
        break;
      case 9:
        if (a != nullptr) {
          const std::string text = a->asstring();
          require(a->getcopy().asstring() == text, "getcopy");
          fixedint magnitude = a->abs();
          require(!magnitude.negative && magnitude.digits == a->digits, "abs");
          a->flipsign();
          require(a->asstring() == (text.rfind('-', 0) == 0 ? text.substr(1) : "-" + text), "flipsign");
        }
        break;
      case 10:
        if (a != nullptr && a->length <= 36) {
          require(a->asstring() == textof(read(*a), a->length), "fixedint asstring");
        }
        break;
      case 11: {
        const unsigned long long length = in.length();
        threwdocumented([&] { floats[i % 4].emplace(length); });
        break;
      }
      case 12:
        if (p != nullptr) {
          const unsigned long long length = in.length();
          threwdocumented([&] { p->init(length); });
        }
        break;
      case 13:
        if (p != nullptr) {
          const float x = in.anyfloat();
          const std::string before = p->length <= 36 ? p->asstring() : "";
          if (threwdocumented([&] { *p = x; })) {
            require(p->length > 36 || p->asstring() == before, "failed float assignment changed the number");
          } else {
            require(std::strtof(p->asstring().c_str(), nullptr) == x || std::isnan(x), "float round trip");
          }
        }
        break;
      case 14:
        if (p != nullptr && b != nullptr) {
          const bool tooshort = b->length < p->length / 2;
          const bool checked = b->length <= 36 && p->length <= 36;
          const exact v = checked ? read(*b) : exact{};
          const unsigned long long half = p->length / 2;
          require(threwdocumented([&] { *p = *b; }) == tooshort, "fixed-point from fixedint length rule");
          require(tooshort || !checked ||
                      p->asstring() == fixedtext(v.negative, v.magnitude % power10(half) * power10(half), half),
                  "fixed-point from fixedint");
        }
        break;
      case 15:
        if (p != nullptr) {
          const std::string text = in.text();
          threwdocumented([&] { *p = text; });
        }
        break;
      case 16:
      case 17:
      case 18:
      case 19:
      case 20:
        if (p != nullptr && q != nullptr) {
          if (p == q) {
            fixedfloat copy(*q);
            floatarithmetic(*p, copy, op - 16);
          } else {
            floatarithmetic(*p, *q, op - 16);
          }
        }
        break;
      case 21:
        if (p != nullptr && p->length <= 36) {
          const exact v{p->negative, read(p->value).magnitude};
          require(p->asstring() == fixedtext(v.negative, v.magnitude, p->length / 2), "fixedfloat asstring");
          require(read(p->getintpart()).magnitude == v.magnitude / power10(p->length / 2), "getintpart");
          require(read(p->getfractionpart()).magnitude == v.magnitude % power10(p->length / 2), "getfractionpart");
        }
        break;
      case 22:
        if (a != nullptr && p != nullptr) {
          *a = *p;
          require(a->length == p->length && !a->negative, "fixedint from fixed-point");
        }
        break;
      default:
        if (a != nullptr) {
          ints[i % 4].reset();
        }
        if (p != nullptr) {
          floats[j % 4].reset();
        }
        break;
    }
    for (const auto& number : ints) {
      if (number) {
        checkinvariants(*number);
      }
    }
    for (const auto& number : floats) {
      if (number) {
        checkinvariants(*number);
      }
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  VELDAR::logstream.str("");  // one input's log at a time keeps memory flat
  programtext in(data, size);
  machine numbers;
  for (int steps = 0; steps < 64 && !in.done(); ++steps) {
    numbers.step(in);
  }
  return 0;
}
