#pragma once

#include <QByteArray>
#include <QImage>

#include <optional>

namespace orvane {

// Profile photos come from the network: a body is read only when it is small,
// of a raster format we expect and of sane dimensions, and is cut to its
// centre square and scaled down once to what the avatar circle draws.
inline constexpr qint64 kAvatarMaxBytes = 5 * 1024 * 1024;
inline constexpr int kAvatarMaxSide = 4096;
inline constexpr int kAvatarPixelSide = 128; // the 32-pt circle on a 4x screen

std::optional<QImage> decodeAvatarImage(const QByteArray& data);

} // namespace orvane
