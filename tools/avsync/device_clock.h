// The disk audio device's position over time, read from the growth of the file SDL's disk driver
// writes in real time: the driver hands each buffer to the file and sleeps a period.
#pragma once

#include <cstdint>

// Creates `path` empty and starts watching it on a thread of its own. The device plays silence
// before the program starts the song, so positions count from the first frame that is not
// silent, which is song frame `first_sound`. 1 on success.
int devclock_start(const char* path, std::uint32_t period_frames, std::uint64_t first_sound);
// The file frame holding song frame 0, or -1 while the song has not started.
double devclock_song_offset();
// Stops watching. Safe when not started.
void devclock_stop();
// The song frame the device plays at steady-clock time `ns`, or -1 before the song started.
double devclock_frame_at(std::int64_t ns);
// The steady-clock time at which the device reached song frame `frame`, or -1 when it has not.
double devclock_time_of(double frame);
// What the file showed: how many times it grew and by how many bytes each time (median).
void devclock_growth(int* count, std::int64_t* step_bytes, double* interval_ms);
// 1 when the watcher got real-time priority, so that its stamps stay prompt under load.
int devclock_prompt();
