// The sound layer: plays one XM module from memory once through and reports its position and
// sync marks. Calls that can fail return 1 on success and 0 on failure. Call it from one thread:
// sync procedures run on that thread, inside the position queries.
#pragma once

#include <cstdint>

using HSYNC = std::uint32_t;
// Called once for every sync mark (effect W) that playback reaches; data is the mark's parameter.
using SYNCPROC = void (*)(HSYNC handle, std::uint32_t data, std::uint32_t user);

// Devices for BASSMOD_Init.
inline constexpr int BASSMOD_DEVICE_DEFAULT = -1;  // the default output device
inline constexpr int BASSMOD_DEVICE_NOSOUND = -2;  // no output; real-time clock, same positions
inline constexpr int BASSMOD_DEVICE_OFFLINE = -3;  // no output, no clock: stepped explicitly

// BASSMOD_MusicLoad's `mem`: the module is in memory (the only source there is).
inline constexpr int BASSMOD_LOAD_MEMORY = 1;
// BASSMOD_MusicSetSync's type and parameter for the module's sync marks (effect W), each
// delivered with the effect's parameter as data.
inline constexpr std::uint32_t BASSMOD_SYNC_MARK = 3;
inline constexpr std::uint32_t BASSMOD_SYNC_MARK_DATA = 1;

// Opens the device at `freq` Hz stereo (8000 to 192000). 1 on success, 0 when no such device
// opens or the layer is already initialised. `flags` are ignored.
int BASSMOD_Init(int device, std::uint32_t freq, std::uint32_t flags);
// Loads a module from `length` bytes at `file` + `offset` (mem must be 1). 1 on success, 0 when
// the data is rejected, including length 0. Never reads outside those bytes. Replaces (and
// stops) any module loaded before, with its syncs. Always plays once: `flags` are ignored.
int BASSMOD_MusicLoad(int mem, const void* file, std::uint32_t offset, std::uint32_t length,
                      std::uint32_t flags);
// BASSMOD_SYNC_MARK with BASSMOD_SYNC_MARK_DATA registers `proc` for every sync mark of the loaded
// module (up to 8 procedures). Returns a non-zero handle, or 0. Procedures are called on the
// caller's thread, inside MusicGetPosition, MusicIsActive and sound_offline_advance; never from the
// audio thread.
HSYNC BASSMOD_MusicSetSync(std::uint32_t type, std::uint32_t param, SYNCPROC proc,
                           std::uint32_t user);
// With scale 256 the position reads as row × 256 + fraction in its high 16 bits. 1 to 256; the
// default is 1 (the bare row).
int BASSMOD_MusicSetPositionScaler(std::uint32_t scale);
// Starts playback from the first order, also when it has played before.
int BASSMOD_MusicPlay();
// Non-zero until the audible position passes the song's last sample; 0 before MusicPlay.
int BASSMOD_MusicIsActive();
// The position heard `lead` from now (sound_set_lead_ns; the audible position by default): low 16
// bits the order index, high 16 bits the row times the scaler plus the fraction of the row
// reached. Sync marks of every row up to the returned position have been delivered (on the
// caller's thread), once each and in play order, before it returns. Never moves back; 0 before
// play.
std::uint32_t BASSMOD_MusicGetPosition();
// Stops playback and releases everything, the lead included. Safe to call more than once.
void BASSMOD_Free();

// Aims the position queries `lead_ns` ahead (0 to 1 s; outside, the nearest bound): from now on
// they report, and deliver marks up to, the position heard `lead_ns` after the query, so that a
// frame drawn for it can be seen when it is heard. Rows the decoder has not reached yet are
// foretold from the patterns; where a jump, loop, row delay or speed change leaves that open, the
// position waits on the last known row. On the offline device the lead counts from the sample
// advanced to. Whether the song is active still goes by what is heard now. Default 0.
void sound_set_lead_ns(std::int64_t lead_ns);

// Offline device only. Decodes up to sample `sample` (44100 Hz frames from the song's start), so
// that the audible position is the row containing that sample and every mark of every row
// starting at or before it has been delivered. Returns 1 while `sample` lies inside the song,
// 0 once it is past the end (the module is then no longer active). A sample before an earlier
// one leaves the position where it was. Starts playback if MusicPlay has not.
int sound_offline_advance(std::uint64_t sample);
// Offline device only. Every decoded frame, in order, is handed to `sink` as interleaved
// 16-bit stereo; nullptr stops it. The whole song gives exactly its length in frames.
using PcmSink = void (*)(const std::int16_t* frames, std::uint32_t count, void* user);
void sound_offline_set_pcm_sink(PcmSink sink, void* user);
