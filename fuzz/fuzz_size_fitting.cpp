// The leading number, the whole-text conversion and the refit, against the C library's reading
// of the same text and against each other.

#include "fuzz/fuzz_input.h"
#include "window/size_fitting.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

using namespace movarin::fitting;

// strtod in the "C" locale: nothing in this program calls setlocale, so the process stays in the
// locale every C program starts in, on every platform.
double cRead(const std::string& text, std::size_t& used) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    used = std::size_t(end - text.c_str());
    return value;
}

NumberFormat formatFrom(unsigned char selector) {
    static constexpr char kDecimal[] = {'.', ','};
    static constexpr char kGroup[] = {0, ',', '.', ' ', '\''};
    NumberFormat format;
    format.decimal_point = kDecimal[selector % 2];
    format.group_separator = kGroup[(selector / 2) % 5];
    if (format.group_separator == format.decimal_point)
        format.group_separator = 0;
    return format;
}

// The text as it reads in the plain form: group separators out, the decimal point as ".".
std::string plainForm(std::string_view text, NumberFormat format) {
    std::string out;
    for (const char c : text) {
        if (format.group_separator != 0 && c == format.group_separator)
            continue;
        out += c == format.decimal_point ? '.' : c;
    }
    return out;
}

bool sameNumber(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

void checkNumberText(std::string_view text, NumberFormat user) {
    const std::string owned(text);
    const double leading = leading_number(text);
    FUZZ_CHECK(!std::isnan(leading), text);
    // Leading blanks are skipped, and a letter after the number changes nothing.
    FUZZ_CHECK(sameNumber(leading_number(" " + owned), leading), text);
    FUZZ_CHECK(sameNumber(leading_number(owned + "x"), leading), text);

    const auto plain = convert_number(text, NumberFormat{});
    if (plain) {
        // A whole number text reads the same as its leading number, and the C library reads
        // all of it to the same value.
        FUZZ_CHECK(sameNumber(*plain, leading), text);
        std::size_t used = 0;
        const double c = cRead(owned, used);
        FUZZ_CHECK(used == owned.size(), text);
        FUZZ_CHECK(sameNumber(*plain, c), text);
        // Nothing may stand before or after the number.
        FUZZ_CHECK(!convert_number(owned + "x", NumberFormat{}), text);
        FUZZ_CHECK(!convert_number(" " + owned, NumberFormat{}), text);
        if (std::isfinite(*plain)) {
            char again[64];
            std::snprintf(again, sizeof again, "%.17g", *plain);
            const auto reread = convert_number(again, NumberFormat{});
            FUZZ_CHECK(reread && *reread == *plain, text);
        }
    }

    const auto value = convert_number(text, user);
    if (value) {
        const auto normalised = convert_number(plainForm(text, user), NumberFormat{});
        FUZZ_CHECK((normalised && sameNumber(*value, *normalised)) ||
                       (plain && sameNumber(*value, *plain)),
                   text);
    }
    try {
        const double number = to_number(text, user);
        FUZZ_CHECK(value && std::isfinite(*value) && number == *value, text);
    } catch (const std::invalid_argument&) {
        FUZZ_CHECK(!value, text);
    } catch (const std::overflow_error&) {
        FUZZ_CHECK(value && !std::isfinite(*value), text);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    // First byte: the user's number format and the twips per pixel; the rest: two texts.
    const NumberFormat user = formatFrom(data[0]);
    const double tpp = 1 + data[0] % 30;
    const auto args = movarin::fuzz::fields(data + 1, size - 1);
    const std::string_view text1 = movarin::fuzz::field(args, 0);
    const std::string_view text2 = movarin::fuzz::field(args, 1);

    checkNumberText(text1, user);
    checkNumberText(text2, user);

    try {
        const auto fit = refit(text1, text2, tpp, tpp, user);
        const bool bothKnown = leading_number(text1) > 0 && leading_number(text2) > 0;
        FUZZ_CHECK(fit.has_value() == bothKnown, text1);
        if (fit) {
            for (const float v :
                 {fit->window_width, fit->window_height, fit->host_width, fit->host_height})
                FUZZ_CHECK(std::isfinite(v) && v >= 0, text1);
            FUZZ_CHECK(fit->window_height >= 650.0f, text2);
            // The window is the video area in twips; both come from one number.
            const double w = double(fit->host_width) * tpp;
            FUZZ_CHECK(std::fabs(fit->window_width - w) <= std::fabs(w) * 1e-6 + 1e-30, text1);
        }
    } catch (const std::invalid_argument&) {
        FUZZ_CHECK(!convert_number(text1, user) || !convert_number(text2, user), text1);
    } catch (const std::overflow_error&) {
        // A size past single precision: logged by the caller, nothing else to check here.
    }

    for (const double v : {0.0, 1.0, -1.0, double(FLT_MAX), double(FLT_MAX) * 2, HUGE_VAL}) {
        try {
            const float single = to_single(v);
            FUZZ_CHECK(std::fabs(v) <= FLT_MAX && single == float(v), text1);
        } catch (const std::overflow_error&) {
            FUZZ_CHECK(!(std::fabs(v) <= FLT_MAX), text1);
        }
    }
    return 0;
}
