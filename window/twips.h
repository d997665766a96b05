#pragma once

namespace window {

// The window's layout is given in twips (1/1440 inch). At 96 dots per inch a
// pixel is 15 twips; on other screens the layout scales with the logical DPI so
// that it keeps its proportions.
constexpr int kTwipsPerInch = 1440;

// Pixels for `twips` at `logicalDpi` dots per inch, rounded to the nearest pixel.
constexpr int twipsToPixels(int twips, int logicalDpi) {
    const long long scaled = static_cast<long long>(twips) * logicalDpi;
    const long long half = kTwipsPerInch / 2;
    return static_cast<int>(scaled >= 0 ? (scaled + half) / kTwipsPerInch
                                        : -((-scaled + half) / kTwipsPerInch));
}

}  // namespace window
