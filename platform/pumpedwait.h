#pragma once

// Waits at least ms milliseconds while the event loop keeps delivering timers, clicks and port
// notifications. The thread sleeps in the event loop meanwhile: an idle wait costs no CPU. Returns
// early, with false, once the application quits.
bool DelayPumping(int ms);
