// A device's play position counted in 32 bits wraps after 4 GiB (about 6.8
// hours of 44.1 kHz stereo); the player needs it counting on without a jump.
#pragma once
#include <cstdint>

namespace platform {

// The 64-bit position that a fresh 32-bit reading raw stands for, given the
// previous extended position. Readings are taken far more often than every
// 2^31 bytes, so the nearer of the two directions is the true one: a small
// step back is a step back, not a leap of almost 4 GiB ahead. Never below 0.
constexpr uint64_t ExtendWrappedPosition(uint64_t previous, uint32_t raw) {
    const int32_t step = static_cast<int32_t>(raw - static_cast<uint32_t>(previous));
    if (step < 0 && static_cast<uint64_t>(-static_cast<int64_t>(step)) > previous)
        return 0;
    return previous + static_cast<uint64_t>(static_cast<int64_t>(step));
}

// Follows one 32-bit counter from the moment it starts at 0.
class WrappedPosition {
public:
    void Restart() { m_position = 0; }
    uint64_t Update(uint32_t raw) { return m_position = ExtendWrappedPosition(m_position, raw); }
    uint64_t Last() const { return m_position; }

private:
    uint64_t m_position = 0;
};

} // namespace platform
