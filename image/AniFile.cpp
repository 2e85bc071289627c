#include "image/AniFile.h"

#include "common/ByteCursor.h"

#include <algorithm>
#include <optional>

namespace harvix {

namespace {

constexpr std::uint32_t FourCc(const char (&text)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[3])) << 24;
}

constexpr std::uint32_t kRiff = FourCc("RIFF");
constexpr std::uint32_t kAcon = FourCc("ACON");
constexpr std::uint32_t kAnih = FourCc("anih");
constexpr std::uint32_t kRate = FourCc("rate");
constexpr std::uint32_t kSeq = FourCc("seq ");
constexpr std::uint32_t kList = FourCc("LIST");
constexpr std::uint32_t kFram = FourCc("fram");
constexpr std::uint32_t kInfo = FourCc("INFO");
constexpr std::uint32_t kIcon = FourCc("icon");
constexpr std::uint32_t kInam = FourCc("INAM");
constexpr std::uint32_t kIart = FourCc("IART");

// The header's flags: frames are icon or cursor files (else raw bitmaps); a "seq "
// chunk gives the order of the steps.
constexpr std::uint32_t kFramesAreIcons = 1;

// The chunks of a RIFF form or list, each handed over with its body; a chunk whose
// stated size runs past the end is cut at the end, since many files state the sizes of
// their last chunk or of the whole form wrongly.
template <class F>
Status forEachChunk(ByteView body, F&& each) {
    ByteCursor c(body);
    while (c.remaining() >= 8) {
        const std::uint32_t id = c.u32().value();
        const std::uint32_t size = c.u32().value();
        const std::uint64_t length = std::min<std::uint64_t>(size, c.remaining());
        const ByteView chunk = c.bytes(length).value();
        if (auto s = each(id, chunk); !s)
            return s;
        // Chunks start at even offsets.
        if (size % 2 != 0 && c.remaining() > 0)
            (void)c.skip(1);
    }
    return success();
}

std::vector<std::uint32_t> readDwords(ByteView chunk, std::uint32_t count) {
    ByteCursor c(chunk);
    std::vector<std::uint32_t> values;
    values.reserve(std::min<std::uint64_t>(count, chunk.size() / 4));
    for (std::uint32_t i = 0; i < count; ++i) {
        auto v = c.u32();
        if (!v)
            break;
        values.push_back(*v);
    }
    return values;
}

std::string textOf(ByteView chunk) {
    std::string text(chunk.begin(), chunk.end());
    text.erase(std::find(text.begin(), text.end(), '\0'), text.end());
    return text;
}

} // namespace

bool IsAniFileHead(ByteView head) {
    ByteCursor c(head);
    return c.peekAt<std::uint32_t>(0).valueOr(0) == kRiff && c.peekAt<std::uint32_t>(8).valueOr(0) == kAcon;
}

Result<AniFile> ReadAniFile(ByteView file) {
    if (!IsAniFileHead(file))
        return makeError(ErrorKind::NotLoadable, "not an animated cursor (no RIFF ACON form)");
    ByteCursor head(file);
    const std::uint32_t formSize = head.peekAt<std::uint32_t>(4).value();
    const std::uint64_t bodyEnd = std::min<std::uint64_t>(std::uint64_t{formSize} + 8, file.size());
    const ByteView body = file.subspan(12, static_cast<std::size_t>(bodyEnd - 12));

    AniFile ani;
    std::optional<std::uint32_t> frameCount, stepCount, rate, flags;
    std::optional<ByteView> rates, sequence;
    auto read = forEachChunk(body, [&](std::uint32_t id, ByteView chunk) -> Status {
        if (id == kAnih) {
            ByteCursor c(chunk);
            // cbSize, cFrames, cSteps, cx, cy, cBitCount, cPlanes, JifRate, flags
            auto size = c.u32();
            if (!size || chunk.size() < 36)
                return makeError(ErrorKind::Malformed, "the animation header is cut short");
            frameCount = c.u32().value();
            stepCount = c.u32().value();
            (void)c.skip(16);
            rate = c.u32().value();
            flags = c.u32().value();
        } else if (id == kRate) {
            rates = chunk;
        } else if (id == kSeq) {
            sequence = chunk;
        } else if (id == kList && chunk.size() >= 4) {
            ByteCursor c(chunk);
            const std::uint32_t type = c.u32().value();
            const ByteView items = chunk.subspan(4);
            if (type == kFram) {
                return forEachChunk(items, [&](std::uint32_t item, ByteView frame) -> Status {
                    if (item != kIcon)
                        return success();
                    if (ani.frames.size() >= kMaxAniFrames)
                        return makeError(ErrorKind::TooLarge, "more than " + std::to_string(kMaxAniFrames) + " frames");
                    ani.frames.push_back(frame);
                    return success();
                });
            }
            if (type == kInfo) {
                return forEachChunk(items, [&](std::uint32_t item, ByteView text) -> Status {
                    if (item == kInam)
                        ani.title = textOf(text);
                    else if (item == kIart)
                        ani.author = textOf(text);
                    return success();
                });
            }
        }
        return success();
    });
    if (!read)
        return read.error();
    if (!frameCount)
        return makeError(ErrorKind::Malformed, "no animation header (anih)");
    if ((*flags & kFramesAreIcons) == 0)
        return makeError(ErrorKind::Unsupported, "its frames are raw bitmaps, not cursor files");
    if (ani.frames.empty())
        return makeError(ErrorKind::Malformed, "no frame");
    // The frames the file holds decide; a header that counts more or fewer is wrong.
    const auto frames = static_cast<std::uint32_t>(ani.frames.size());

    // The steps the header states; a header that states none (some editors write 0)
    // plays the whole sequence, or else every frame once.
    std::uint64_t steps = *stepCount;
    if (steps == 0)
        steps = sequence ? sequence->size() / 4 : frames;
    if (steps > kMaxAniSteps)
        return makeError(ErrorKind::TooLarge, "more than " + std::to_string(kMaxAniSteps) + " steps");
    std::vector<std::uint32_t> order;
    if (sequence) {
        order = readDwords(*sequence, static_cast<std::uint32_t>(steps));
        if (order.empty())
            return makeError(ErrorKind::Malformed, "an empty sequence (seq)");
    } else {
        // Without a sequence each step shows the frame of its number (a header that
        // states more steps than frames starts over).
        for (std::uint64_t i = 0; i < steps; ++i)
            order.push_back(static_cast<std::uint32_t>(i % frames));
    }
    const std::vector<std::uint32_t> times = rates ? readDwords(*rates, static_cast<std::uint32_t>(order.size()))
                                                   : std::vector<std::uint32_t>{};
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (order[i] >= frames)
            return makeError(ErrorKind::Malformed, "step " + std::to_string(i + 1) + " shows frame " +
                                                       std::to_string(order[i]) + " of " + std::to_string(frames));
        ani.steps.push_back(AniStep{order[i], i < times.size() ? times[i] : *rate});
    }
    return ani;
}

} // namespace harvix
