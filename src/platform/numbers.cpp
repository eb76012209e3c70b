#include "platform/numbers.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace qlcore {

int64_t round_half_even(double x) {
    // std::round sends halves away from zero; exact halves are sent to the
    // even neighbour here, whatever the current rounding mode.
    double r = std::round(x);
    if (std::fabs(x - std::trunc(x)) == 0.5) r = 2.0 * std::round(x / 2.0);
    return static_cast<int64_t>(r);
}

double round_places(double x, int n) {
    if (!std::isfinite(x)) return x;
    // printf rounds the exact binary value, ties to even; strtod then takes
    // the nearest double to the rounded decimal.
    int len = std::snprintf(nullptr, 0, "%.*f", n, x);
    std::vector<char> buf(static_cast<size_t>(len) + 1);
    std::snprintf(buf.data(), buf.size(), "%.*f", n, x);
    return std::strtod(buf.data(), nullptr);
}

std::string shortest(double x) {
    if (!std::isfinite(x)) return "null";  // as JSON has no such numbers
    std::string out = std::signbit(x) ? "-" : "";
    if (x == 0) return out + "0.0";
    // to_chars gives the shortest correctly rounded digits; they are laid out
    // as printf's %g would with the point moved: fixed from 1e-04 to below
    // 1e+15, else one digit before the point and a signed two-digit exponent.
    char buf[64];
    char* end =
        std::to_chars(buf, buf + sizeof buf, std::fabs(x), std::chars_format::scientific).ptr;
    *end = '\0';  // for atoi below
    char* e = std::find(buf, end, 'e');
    std::string digits(buf, 1);
    if (e - buf > 1) digits.append(buf + 2, e);
    const int k = static_cast<int>(digits.size());
    const int n = std::atoi(e + 1) + 1;  // where the point goes among the digits
    // Built by appending: g++ 12 at -O3 warns falsely (-Wrestrict) on "0." + s.
    if (k <= n && n <= 15) return out.append(digits).append(n - k, '0').append(".0");
    if (0 < n && n <= 15) return out.append(digits, 0, n).append(1, '.').append(digits, n);
    if (-4 < n && n <= 0) return out.append("0.").append(-n, '0').append(digits);
    out += digits[0];
    if (k > 1) out.append(1, '.').append(digits, 1);
    const int exp = n - 1;
    out += exp < 0 ? "e-" : "e+";
    if (std::abs(exp) < 10) out += '0';
    return out + std::to_string(std::abs(exp));
}

namespace {

bool _is_plain_number(const std::string& s, bool allow_fraction) {
    size_t i = 0, n = s.size();
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digits = 0;
    while (i < n && std::isdigit(static_cast<unsigned char>(s[i])))
        ++i, ++digits;
    if (!allow_fraction) return digits > 0 && i == n;
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && std::isdigit(static_cast<unsigned char>(s[i])))
            ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
        size_t ed = 0;
        while (i < n && std::isdigit(static_cast<unsigned char>(s[i])))
            ++i, ++ed;
        if (ed == 0) return false;
    }
    return i == n;
}

}  // namespace

std::optional<double> parse_double(const std::string& s) {
    if (!_is_plain_number(s, true)) return std::nullopt;
    errno = 0;
    double v = std::strtod(s.c_str(), nullptr);
    if (!std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<int64_t> parse_int(const std::string& s) {
    if (!_is_plain_number(s, false)) return std::nullopt;
    errno = 0;
    long long v = std::strtoll(s.c_str(), nullptr, 10);
    if (errno == ERANGE) return std::nullopt;
    return static_cast<int64_t>(v);
}

std::string trim(const std::string& s) {
    const char* ws = " \t\r\n\v\f";
    size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

}  // namespace qlcore
