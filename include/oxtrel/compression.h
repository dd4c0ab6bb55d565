#pragma once

// The zlib compression levels a pack takes, from the fastest to the smallest output.

namespace oxtrel {

inline constexpr int kMinCompressionLevel = 1;
inline constexpr int kMaxCompressionLevel = 12;
inline constexpr int kDefaultCompressionLevel = 6;

}  // namespace oxtrel
