// The device of a browser page: its audio worklet, which runs a copy of the
// player on the audio rendering thread (src/platform/web/tinsel-worklet.js) and
// is handed a song's image rather than samples. OpenAudioDevice and
// CloseAudioDevice (audio_output.h) open and close it.
#pragma once

#include <cstdint>

// Hands the worklet the XM image to play from its start, at the device's
// rate; the bytes are copied before this returns.
void PlayImageOnDevice(const void* image, int32_t size);
// Silences the worklet; the song it had is given up.
void StopDeviceSong();
