#pragma once
// Reads a fuzz input front to back. Once it is used up every read gives zeros or nothing, so a
// target never needs to ask how much is left before it reads.

#include <cstddef>
#include <cstdint>
#include <vector>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Empty() const { return position_ >= size_; }
    size_t Left() const { return size_ - position_; }

    uint8_t Byte() { return Empty() ? 0 : data_[position_++]; }
    uint16_t Le16()
    {
        const uint16_t low = Byte();
        return static_cast<uint16_t>(low | Byte() << 8);
    }
    uint32_t Le32()
    {
        const uint32_t low = Le16();
        return low | static_cast<uint32_t>(Le16()) << 16;
    }
    // Up to count bytes; fewer where the input ends.
    std::vector<uint8_t> Bytes(size_t count)
    {
        const size_t n = count < Left() ? count : Left();
        std::vector<uint8_t> out(data_ + position_, data_ + position_ + n);
        position_ += n;
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};
