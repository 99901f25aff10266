#pragma once

// Sleeps in the event loop until at least one event is pending, then runs the
// handlers of the pending events and returns. Handlers run nested inside the
// caller. The caller must make sure that some event will come (a timer, a
// socket), or it sleeps until one does.
void waitAndDispatchEvents();
