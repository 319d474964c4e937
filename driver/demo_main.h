// The whole program's control flow: start-up, the main loop, shutdown.
#pragma once

// Plays the presentation once. Returns the process exit status: 0 after the music ends or Escape,
// 1 when the module is rejected or no display can be opened.
int demo_main();
