// Quantum frames for the cabinet builder, which no packaged tool writes. Every byte is
// coded as a literal through Quantum's adaptive arithmetic coder, each symbol given the
// share of the range the reader gives it and each model updated after it exactly as the
// reader updates its own; no match is looked for, so the bytes come out a little larger,
// not smaller: a valid stream, not a compressor.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace harvix::cabbuilder {

class QuantumLiterals {
public:
    QuantumLiterals();

    // One frame of a folder: its bytes (32 KiB, but for the folder's last frame), the
    // coder started afresh and its last value written out, then zero bits to a whole
    // byte. The models go on from one frame to the next, as the reader's do.
    [[nodiscard]] std::vector<std::uint8_t> frame(std::span<const std::uint8_t> bytes);

private:
    // A model: its symbols, each with the frequency of those after it in the table
    // (the last entry, past the symbols, has 0), the first the total.
    struct Model {
        struct Entry {
            unsigned symbol;
            unsigned cumulative;
        };
        Model(unsigned first, unsigned count);
        [[nodiscard]] std::size_t indexOf(unsigned symbol) const;
        void update(std::size_t index);
        std::vector<Entry> entries; // count + 1
        int rescalesBeforeSort = 4;
    };

    void code(Model& model, unsigned symbol);
    void put(unsigned bit);
    void putFollowed(unsigned bit);

    std::vector<Model> m_literals; // bytes 0-63, 64-127, 128-191, 192-255
    Model m_selector;              // which of them, or (never here) a kind of match
    std::uint32_t m_low = 0;
    std::uint32_t m_high = 0xFFFF;
    unsigned m_pending = 0; // bits owed, the opposite of the next one put
    std::vector<std::uint8_t> m_out;
    unsigned m_byte = 0;
    unsigned m_used = 0;
};

} // namespace harvix::cabbuilder
