// The bitmaps built into the program: the ten feedback pictures (ids 101 to
// 110, picture index + 101) and the program icon (id 111). The build turns
// feedback/resources/*.bmp into byte arrays (EmbedResources.cmake), so the
// program needs no files beside it.
#pragma once

#include <cstdint>
#include <span>

namespace feedback {

inline constexpr int kFirstPictureResource = 101;
inline constexpr int kPictureCount = 10;
inline constexpr int kIconResource = 111;

// The file bytes of a resource, or an empty span for an unknown id.
std::span<const uint8_t> resource(int id);

}  // namespace feedback
