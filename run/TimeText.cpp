#include "run/TimeText.h"

namespace harvix {

namespace {

// Number of decimal digits of a positive value.
int digitCount(std::int64_t value) {
    int digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

std::int64_t powerOfTen(int exponent) {
    std::int64_t value = 1;
    for (int i = 0; i < exponent; ++i)
        value *= 10;
    return value;
}

} // namespace

std::string FormatTimeText(std::int32_t milliseconds) {
    constexpr int kSignificantDigits = 3;
    const std::int64_t ms = milliseconds < 0 ? 0 : milliseconds;
    const std::int64_t totalSeconds = (ms + 500) / 1000;

    std::int64_t units[3] = {totalSeconds / 3600, totalSeconds / 60 % 60, totalSeconds % 60};
    static const char* const kNames[3] = {" hr", " min", " sec"};

    // The digits are counted as on a clock face: the leading unit with its own digits,
    // each following unit with two ("1 hr 02 min"). Once three have been kept, every
    // later digit becomes zero.
    int first = 0;
    while (first < 2 && units[first] == 0)
        ++first;
    int left = kSignificantDigits;
    for (int i = first; i < 3; ++i) {
        const int width = i == first ? digitCount(units[i]) : 2;
        if (left <= 0) {
            units[i] = 0;
        } else if (width > left) {
            const std::int64_t scale = powerOfTen(width - left);
            units[i] = units[i] / scale * scale;
        }
        left -= width;
    }

    std::string text;
    for (int i = first; i < 3; ++i) {
        if (units[i] == 0 && !(i == 2 && text.empty()))
            continue;
        text += ' ';
        text += std::to_string(units[i]);
        text += kNames[i];
    }
    return text;
}

} // namespace harvix
