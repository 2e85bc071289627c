// Animated cursor (.ani) files: a RIFF "ACON" form with an "anih" header, an optional
// "rate" chunk (a display time per step) and "seq " chunk (the frame of each step), and a
// "LIST" "fram" of "icon" chunks, each a whole cursor or icon file.
#pragma once

#include "common/Result.h"
#include "format/IconEntry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace harvix {

// The most frames and steps an animated cursor is read with: real ones have a few dozen.
inline constexpr std::uint32_t kMaxAniFrames = 1024;
inline constexpr std::uint32_t kMaxAniSteps = 4096;

// One step of the animation: the frame it shows and for how long, in jiffies (1/60 s).
struct AniStep {
    std::uint32_t frame = 0;
    std::uint32_t jiffies = 0;
};

struct AniFile {
    std::string title;  // the INFO list's "INAM", when there is one
    std::string author; // its "IART"
    // The frames as the file holds them: each the bytes of a cursor or icon file.
    std::vector<ByteView> frames;
    // The animation in the order it plays: `seq ` when the file has one, else the frames
    // in their order; each step's time from `rate`, else the header's.
    std::vector<AniStep> steps;
};

// Whether the first bytes are those of an animated cursor: "RIFF", a size, "ACON".
[[nodiscard]] bool IsAniFileHead(ByteView head);

// Reads an animated cursor. The views point into `file`. Fails (NotLoadable) for a file
// that is no RIFF "ACON" form, (Unsupported) for frames stored as raw bitmaps rather
// than icon files, (Malformed) when the header, the frames, the rates or the sequence
// do not agree (a step naming a frame the file lacks, no frame at all), and (TooLarge)
// beyond kMaxAniFrames or kMaxAniSteps. Chunks it does not know are passed over.
[[nodiscard]] Result<AniFile> ReadAniFile(ByteView file);

} // namespace harvix
