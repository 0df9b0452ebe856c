#include "player/mixer.h"

#include <cmath>

#include "player/module.h"
#include "player/player.h"

namespace {

constexpr float kInv255 = 1.0f / 255.0f;
constexpr int64_t kOne = int64_t{1} << 32;

int64_t Position(const MixVoice& v) {
    return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(v.posInt)) << 32) | v.posFrac);
}
void StorePosition(MixVoice& v, int64_t pos) {
    v.posInt = static_cast<int32_t>(static_cast<uint64_t>(pos) >> 32);
    v.posFrac = static_cast<uint32_t>(pos);
}

double Interpolate(const int16_t* data, int64_t pos) {
    const int32_t i = static_cast<int32_t>(static_cast<uint64_t>(pos) >> 32);
    const double a = data[i];
    const double b = data[i + 1];
    const double w = static_cast<double>(static_cast<uint32_t>(pos) >> 1) * (1.0 / 2147483648.0);
    return a + w * (b - a);
}

void MixVoice1(MixVoice& v, float* out, int32_t left, int32_t rampLength, float rampReciprocal) {
    for (;;) {
        const Sample& s = *v.sample;
        const uint32_t loopEnd = s.loopStart + s.loopLength;
        int64_t pos = Position(v);
        const uint64_t step = (static_cast<uint64_t>(static_cast<uint32_t>(v.stepInt)) << 32) | v.stepFrac;

        // 1. Boundary.
        const int64_t distance = v.direction == 1 ? static_cast<int64_t>(loopEnd) * kOne - pos
                                                  : pos - static_cast<int64_t>(s.loopStart) * kOne;
        uint32_t n = static_cast<uint32_t>(left);
        bool atBoundary = false;
        const uint32_t s24 = (static_cast<uint32_t>(v.stepInt) << 24) | (v.stepFrac >> 8);
        if ((static_cast<uint64_t>(distance) >> 32) < (1u << 24) && s24 != 0) {
            const uint64_t d = static_cast<uint64_t>(distance) >> 8;
            const uint64_t count = d / s24 + (d % s24 != 0 ? 1 : 0);
            if (count <= n) {
                n = static_cast<uint32_t>(count);
                atBoundary = true;
            }
        }

        // 2. Ramp decision.
        const uint32_t unramped = n;
        int32_t ramp = 0;
        float sL = 0.0f, sR = 0.0f;
        if (v.rampRemaining != 0 && v.leftGain == v.lastLeftGain && v.rightGain == v.lastRightGain) {
            ramp = v.rampRemaining;
            sL = v.leftStep;
            sR = v.rightStep;
        } else {
            v.lastLeftGain = v.leftGain;
            const int32_t dL = v.leftGain - static_cast<int32_t>(static_cast<uint32_t>(v.leftLevel) >> 8);
            if (dL != 0) {
                sL = static_cast<float>(dL) * kInv255 * rampReciprocal;
                v.leftStep = sL;
                ramp = rampLength;
            }
            v.lastRightGain = v.rightGain;
            const int32_t dR = v.rightGain - static_cast<int32_t>(static_cast<uint32_t>(v.rightLevel) >> 8);
            if (dR != 0) {
                sR = static_cast<float>(dR) * kInv255 * rampReciprocal;
                v.rightStep = sR;
                ramp = rampLength;
            }
        }
        if (ramp > 0) {
            v.rampRemaining = ramp;
            if (static_cast<uint32_t>(ramp) < n) {
                n = static_cast<uint32_t>(ramp);
            }
        }

        // 3. Values for the run.
        const float gL = static_cast<float>(static_cast<double>(v.leftGain) * kInv255);
        const float gR = static_cast<float>(static_cast<double>(v.rightGain) * kInv255);
        float cL = static_cast<float>(static_cast<double>(v.leftLevel) * (1.0 / 256.0) * kInv255);
        float cR = static_cast<float>(static_cast<double>(v.rightLevel) * (1.0 / 256.0) * kInv255);
        const uint64_t signedStep = v.direction == 1 ? step : ~step + 1;

        // 4. Frames.
        const int16_t* data = s.data;
        float* o = out;
        if (ramp == 0) {
            for (uint32_t k = n / 2; k != 0; --k) {
                double value = Interpolate(data, pos);
                pos = static_cast<int64_t>((static_cast<uint64_t>(pos) & ~uint64_t{1}) + signedStep);
                o[0] = static_cast<float>(o[0] + value * gL);
                o[1] = static_cast<float>(o[1] + value * gR);
                value = Interpolate(data, pos);
                pos = static_cast<int64_t>((static_cast<uint64_t>(pos) & ~uint64_t{1}) + signedStep);
                o[2] = static_cast<float>(o[2] + value * gL);
                o[3] = static_cast<float>(o[3] + value * gR);
                o += 4;
            }
            if (n & 1) {
                const double value = Interpolate(data, pos);
                pos = static_cast<int64_t>((static_cast<uint64_t>(pos) & ~uint64_t{1}) + signedStep);
                o[0] = static_cast<float>(o[0] + value * cL);
                o[1] = static_cast<float>(o[1] + value * cR);
            }
        } else {
            for (uint32_t k = n; k != 0; --k) {
                const double value = Interpolate(data, pos);
                pos = static_cast<int64_t>((static_cast<uint64_t>(pos) & ~uint64_t{1}) + signedStep);
                o[0] = static_cast<float>(o[0] + value * cL);
                o[1] = static_cast<float>(o[1] + value * cR);
                cL += sL;
                cR += sR;
                o += 2;
            }
        }

        // 5. Ramp bookkeeping.
        if (ramp != 0) {
            v.leftLevel = static_cast<int32_t>(std::nearbyint(static_cast<double>(cL) * 255.0 * 256.0));
            v.rightLevel = static_cast<int32_t>(std::nearbyint(static_cast<double>(cR) * 255.0 * 256.0));
            v.rampRemaining = ramp - static_cast<int32_t>(n);
            if (v.rampRemaining == 0) {
                v.leftStep = v.rightStep = 0.0f;
                v.leftLevel = v.leftGain * 256;
                v.rightLevel = v.rightGain * 256;
                if (n < unramped) {
                    StorePosition(v, pos);
                    out += 2 * n;
                    left -= static_cast<int32_t>(n);
                    continue;
                }
            }
        }

        // 6. The buffer is full before the boundary.
        if (!atBoundary) {
            StorePosition(v, pos);
            return;
        }

        // 7. Boundary by loop mode.
        StorePosition(v, pos);
        if (s.loopMode & kLoopForward) {
            v.posInt -= static_cast<int32_t>(s.loopLength);
            // Stop once negative: unsigned, -1 would look past the end and never wrap back.
            while (v.posInt >= 0 && static_cast<uint32_t>(v.posInt) >= loopEnd) {
                v.posInt -= static_cast<int32_t>(s.loopLength);
            }
        } else if (s.loopMode & kLoopPingPong) {
            const int64_t endPos = static_cast<int64_t>(loopEnd) * kOne;
            const int64_t startPos = static_cast<int64_t>(s.loopStart) * kOne;
            bool atEnd = v.direction == 1;
            for (;;) {
                int64_t p = Position(v);
                if (atEnd) {
                    p = 2 * endPos - p - 1;
                    v.direction = 2;
                    StorePosition(v, p);
                    if (!(v.posInt < static_cast<int32_t>(s.loopStart))) {
                        break;
                    }
                } else {
                    p = 2 * startPos - p - 1;
                    v.direction = 1;
                    StorePosition(v, p);
                    if (!(v.posInt >= static_cast<int32_t>(loopEnd))) {
                        break;
                    }
                }
                atEnd = !atEnd;
            }
        } else {
            v.posInt = 0;
            v.posFrac = 0;
            v.sample = nullptr;
            return;
        }
        out += 2 * n;
        left -= static_cast<int32_t>(n);
        if (left <= 0) {
            return;
        }
    }
}

} // namespace

int32_t RampLengthForRate(int32_t rate) {
    const int64_t length = static_cast<int64_t>(rate) * 128 / 44100;
    return length >= 1 ? static_cast<int32_t>(length) : 1; // a very low rate still ramps, over one frame
}

void MixVoices(Player& player, float* destination, int32_t frames) {
    if (destination == nullptr || frames < 1) {
        return;
    }
    for (int i = 0; i < kMixedVoices; ++i) {
        MixVoice& voice = player.VoicePool[i];
        if (voice.sample != nullptr) {
            MixVoice1(voice, destination, frames, player.rampLength, player.rampReciprocal);
        }
    }
}

void ConvertToPcm16(int16_t* destination, const float* source, int32_t frames) {
    if (destination == nullptr || source == nullptr || frames <= 0) {
        return;
    }
    for (int32_t i = 0; i < 2 * frames; ++i) {
        const double r = std::nearbyint(static_cast<double>(source[i]));
        destination[i] = static_cast<int16_t>(r < -32768.0 ? -32768 : (r > 32767.0 ? 32767 : r));
    }
}
