#pragma once

// Waits at least ms milliseconds while the event loop keeps delivering timers, clicks and port
// notifications. The thread sleeps in the event loop meanwhile: an idle wait costs no CPU. Returns
// early once the application quits.
void DelayPumping(int ms);
