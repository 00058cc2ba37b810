#pragma once

#include <QString>

#include <optional>

// The integer value is what gets stored and handed across interfaces.
enum class ErrorCorrection : int { low = 0, medium = 1, quantize = 2, high = 3 };

inline constexpr ErrorCorrection DefaultErrorCorrection = ErrorCorrection::quantize;

inline std::optional<ErrorCorrection> errorCorrectionFromInt(int value) {
    if (value < 0 || value > 3)
        return std::nullopt;
    return static_cast<ErrorCorrection>(value);
}

// "L", "M", "Q" or "H".
inline QString errorCorrectionLetter(ErrorCorrection level) {
    static const char* const letters[] = {"L", "M", "Q", "H"};
    return QLatin1String(letters[static_cast<int>(level)]);
}
