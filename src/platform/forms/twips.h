#pragma once

namespace platform {

// Window positions and sizes are given in twips. Qt works in logical pixels,
// and its high-DPI scaling turns them into device pixels, so the fixed 96 DPI
// ratio of 15 twips to a pixel is the right one at every screen density.
inline constexpr int kTwipsPerPixel = 15;

// To the nearest pixel: a control that ends at 5654 twips ends at pixel 377,
// not 376.
constexpr int Twips(int twips)
{
    const int half = kTwipsPerPixel / 2;
    return twips >= 0 ? (twips + half) / kTwipsPerPixel : -((-twips + half) / kTwipsPerPixel);
}

}  // namespace platform
