#pragma once

// Sleeps in the event loop until at least one event is pending, then runs the
// handlers of the pending events and returns. Handlers run nested inside the
// caller. The caller must make sure that some event will come (a timer, a
// socket), or it sleeps until one does.
void waitAndDispatchEvents();
// Runs the handlers of the events pending now, nested inside the caller, and
// returns without waiting for more.
void dispatchPendingEvents();

// For a program without windows, called before its application object is
// made: picks Qt's plain UNIX event dispatcher instead of the GLib one, which
// costs less per wake-up and so per exchange. A QT_NO_GLIB already set in the
// environment is left as it is.
void preferPlainEventDispatcher();
