// Outputs that appear whole or not at all. Every output is checked and given a temporary before
// the first frame; the run writes into the temporaries, and only when all of them are complete
// and closed are they renamed into place together. Until then the final paths stay as they were.
// Functions return 1 (or a slot ≥ 0) on success and 0 (or -1) after printing the reason.
#pragma once

#include <cstdio>

// How an output file is written.
enum class StageMode {
    // Into a temporary beside it, renamed at commit. A special file (device, FIFO, "-" for
    // standard output, a path under /dev/ or /proc/) is instead written only once complete: the
    // temporary then lies in $TMPDIR and is copied into it at commit.
    whole,
    // As `whole`, except that a special file is written directly as the run goes (a stream of
    // frames read by another program as they come).
    stream,
};

// Registers the output file `path`: rejects a folder, a missing folder, a path given twice and
// a special file that cannot be opened, and creates the temporary (which proves the folder
// writable). Returns a slot, or -1.
int stage_file(const char* path, StageMode mode);
// A stdio stream on the slot's temporary (or the special file itself for a stream), made on the
// first call; stage_commit and stage_discard close it.
std::FILE* stage_stream(int slot);
// The path of the slot's temporary, for a writer in another process. Empty for a stream written
// directly into a special file.
const char* stage_temp_path(int slot);

// Registers the output folder `dir` (created, with its parents, when missing; removed again if
// the run fails) and returns a fresh hidden folder inside it that the run fills; at commit its
// files are moved into `dir`, replacing files of the same names. nullptr on failure.
const char* stage_folder(const char* dir);

// Closes every output (a failed flush, sync or close fails the commit), copies the complete
// temporaries into special files, then renames every temporary into place with the stop signals
// held back. On failure the outputs not yet in place are discarded as by stage_discard.
int stage_commit();
// Removes every temporary and every folder the run created; the final paths stay as they were
// (special files keep what was already streamed into them). Safe to call more than once.
void stage_discard();
