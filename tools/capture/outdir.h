// Output folders of the capture tool.
#pragma once

// Creates `dir` and its parents if missing. 1 when it exists afterwards, else 0 with a message.
int outdir_make(const char* dir);
