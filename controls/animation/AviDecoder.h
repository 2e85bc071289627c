// Reads the short silent clips the animation control plays: a RIFF AVI file with one
// video stream of 8-bit palette frames, either run-length encoded (RLE8) or stored
// uncompressed, decoded into 32-bit colour frames. No toolkit is needed here, so the
// decoder also builds for the fuzz targets.
//
// The input is untrusted. Every read goes through ByteCursor; the frame size and the
// number of frames are checked against fixed limits before anything is allocated, and
// the number of frames comes from the chunks actually present, never from a header
// count. A clip that cannot be read gives an error, never a partial clip.
#pragma once

#include "common/ByteCursor.h"
#include "common/Result.h"

#include <cstdint>
#include <span>
#include <vector>

namespace harvix {

// Limits on what a clip may ask for. An animation clip is small; these leave room for
// far bigger ones while keeping the decoded frames within 64 megabytes.
inline constexpr std::uint32_t kMaxDimension = 4096;
inline constexpr std::uint64_t kMaxTotalPixels = 16ull * 1024 * 1024;

// Frame time used when the file gives none.
inline constexpr std::uint32_t kDefaultMicrosecondsPerFrame = 100000;

// Compression codes of the frame format.
inline constexpr std::uint32_t kUncompressed = 0; // BI_RGB
inline constexpr std::uint32_t kRle8 = 1;         // BI_RLE8

struct Clip {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t microsecondsPerFrame = kDefaultMicrosecondsPerFrame;
    std::uint32_t compression = kRle8;
    // Colours as 0xFFRRGGBB; index i of a frame shows palette[i] (black past the end).
    std::vector<std::uint32_t> palette;
    // Each frame holds width * height colours (0xFFRRGGBB), top row first.
    std::vector<std::vector<std::uint32_t>> frames;

    [[nodiscard]] bool empty() const { return frames.empty(); }
};

// Decodes a whole clip held in memory.
[[nodiscard]] Result<Clip> DecodeAvi(std::span<const std::uint8_t> file);

// Decodes one RLE8 frame over `pixels` (width * height palette indices, top row
// first), which holds the previous frame: pixels the stream skips with a delta, or
// leaves out by ending a line or the frame early, keep their values. Lines are stored
// bottom-up. Runs past the right edge are cut off; the frame ends at the end-of-bitmap
// escape, at the top line, or at the end of the data, whichever comes first.
void DecodeRle8(std::span<const std::uint8_t> data, std::uint32_t width, std::uint32_t height,
                std::vector<std::uint8_t>& pixels);

// Decodes one uncompressed 8-bit frame: lines of width bytes, each padded to a multiple
// of four, bottom-up unless `topDown`. Fails when the data is shorter than the frame.
[[nodiscard]] Status DecodeUncompressed8(std::span<const std::uint8_t> data, std::uint32_t width,
                                         std::uint32_t height, bool topDown,
                                         std::vector<std::uint8_t>& pixels);

// Where a playing clip stands: which frame is shown and whether the clock runs.
// Playing the whole clip repeats it without end.
class Playback {
public:
    void reset(std::size_t frameCount) {
        m_count = frameCount;
        m_current = 0;
        m_playing = false;
    }
    // Starts playing the whole clip from its first frame; nothing to play means nothing
    // starts.
    bool play() {
        m_current = 0;
        m_playing = m_count > 0;
        return m_playing;
    }
    void stop() { m_playing = false; }
    // Moves to the next frame, after the last back to the first.
    std::size_t advance() {
        if (m_count > 0)
            m_current = (m_current + 1) % m_count;
        return m_current;
    }
    [[nodiscard]] std::size_t current() const { return m_current; }
    [[nodiscard]] std::size_t frameCount() const { return m_count; }
    [[nodiscard]] bool playing() const { return m_playing; }

private:
    std::size_t m_count = 0;
    std::size_t m_current = 0;
    bool m_playing = false;
};

} // namespace harvix
