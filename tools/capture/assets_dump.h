// The --assets output: every embedded picture as a PNG, for documentation.
#pragma once

// Writes texture_a.png, texture_b.png, mask_a_0.png ... mask_d_3.png and end_picture.png into
// the existing folder `dir`. 1 on success, 0 after printing the reason to stderr.
int assets_write(const char* dir);
