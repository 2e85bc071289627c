// Builds small AVI files in memory for the decoder tests: one field at a time can be
// set to a wrong value, and frames are given as raw chunk bodies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace avitest {

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}
inline void Put32(Bytes& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
inline void PutId(Bytes& out, const char* id) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(id[i]));
}
inline Bytes Chunk(const char* id, const Bytes& body) {
    Bytes out;
    PutId(out, id);
    Put32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() % 2)
        out.push_back(0);
    return out;
}
inline Bytes List(const char* type, const Bytes& body) {
    Bytes inner;
    PutId(inner, type);
    inner.insert(inner.end(), body.begin(), body.end());
    return Chunk("LIST", inner);
}
inline Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct AviBuilder {
    std::int32_t width = 4;
    std::int32_t height = 2;
    std::uint16_t bitCount = 8;
    std::uint32_t compression = 1; // RLE8
    std::uint32_t headerSize = 40;
    std::uint32_t microsecondsPerFrame = 100000;
    std::uint32_t claimedFrames = 0; // 0: the real count
    std::uint32_t scale = 1;
    std::uint32_t rate = 10;
    std::string streamType = "vids";
    bool withFormat = true;
    bool withIndex = true;
    bool withAudioStreamFirst = false;
    std::vector<std::uint32_t> palette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
    std::vector<Bytes> frames;
    std::string frameId = "00dc";

    [[nodiscard]] Bytes Build() const {
        Bytes avih;
        Put32(avih, microsecondsPerFrame);
        for (int i = 0; i < 3; ++i)
            Put32(avih, 0);
        Put32(avih, claimedFrames ? claimedFrames : static_cast<std::uint32_t>(frames.size()));
        Put32(avih, 0);
        Put32(avih, withAudioStreamFirst ? 2 : 1);
        Put32(avih, 0);
        Put32(avih, static_cast<std::uint32_t>(width));
        Put32(avih, static_cast<std::uint32_t>(height));
        for (int i = 0; i < 4; ++i)
            Put32(avih, 0);

        Bytes strh;
        PutId(strh, streamType.c_str());
        PutId(strh, "mrle");
        for (int i = 0; i < 3; ++i)
            Put32(strh, 0);
        Put32(strh, scale);
        Put32(strh, rate);
        for (int i = 0; i < 5; ++i)
            Put32(strh, 0);
        for (int i = 0; i < 4; ++i)
            Put16(strh, 0);

        Bytes strf;
        Put32(strf, headerSize);
        Put32(strf, static_cast<std::uint32_t>(width));
        Put32(strf, static_cast<std::uint32_t>(height));
        Put16(strf, 1);
        Put16(strf, bitCount);
        Put32(strf, compression);
        for (int i = 0; i < 3; ++i)
            Put32(strf, 0);
        Put32(strf, static_cast<std::uint32_t>(palette.size()));
        Put32(strf, static_cast<std::uint32_t>(palette.size()));
        while (strf.size() < headerSize && headerSize < 1024)
            strf.push_back(0);
        for (auto rgb : palette)
            Put32(strf, rgb);

        Bytes strl = Chunk("strh", strh);
        if (withFormat)
            strl = Join({strl, Chunk("strf", strf)});
        Bytes hdrlBody = Chunk("avih", avih);
        if (withAudioStreamFirst) {
            Bytes audio;
            PutId(audio, "auds");
            audio.resize(56, 0);
            hdrlBody = Join({hdrlBody, List("strl", Chunk("strh", audio))});
        }
        hdrlBody = Join({hdrlBody, List("strl", strl)});

        Bytes movi;
        Bytes index;
        for (const auto& f : frames) {
            PutId(index, frameId.c_str());
            Put32(index, 0x10);
            Put32(index, static_cast<std::uint32_t>(4 + movi.size()));
            Put32(index, static_cast<std::uint32_t>(f.size()));
            movi = Join({movi, Chunk(frameId.c_str(), f)});
        }
        Bytes body;
        PutId(body, "AVI ");
        body = Join({body, List("hdrl", hdrlBody), Chunk("JUNK", Bytes(6, 0)), List("movi", movi)});
        if (withIndex)
            body = Join({body, Chunk("idx1", index)});
        return Chunk("RIFF", body);
    }
};

} // namespace avitest
