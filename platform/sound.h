// Sound playback: plays a named sound, here a RIFF WAVE file.
#pragma once

#include "platform/types.h"

constexpr DWORD SND_SYNC = 0x00000000;       // return when the sound has played
constexpr DWORD SND_ASYNC = 0x00000001;      // return at once, play in the background
constexpr DWORD SND_NODEFAULT = 0x00000002;  // no default sound when this one is not found
constexpr DWORD SND_MEMORY = 0x00000004;     // the name points to an image of the sound in memory
constexpr DWORD SND_LOOP = 0x00000008;       // repeat until the next call (with SND_ASYNC)
constexpr DWORD SND_NOSTOP = 0x00000010;     // do not stop a sound that is playing
constexpr DWORD SND_NOWAIT = 0x00002000;     // do not wait when the output is busy
constexpr DWORD SND_ALIAS = 0x00010000;      // the name is a sound alias
constexpr DWORD SND_FILENAME = 0x00020000;   // the name is a file name

// Plays the sound; a null name stops what is playing. TRUE when the sound
// was found and played (or started, with SND_ASYNC); FALSE, with the last
// error set, when it is missing or not a sound the output can play.
QUIB_PLATFORM_API BOOL PlaySoundW(LPCWSTR name, HMODULE module, DWORD flags);
