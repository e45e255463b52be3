// The disc burner's completion events on the application's main thread.
#pragma once

class TDiscBurner;

// Makes OnWriteDone and OnEraseDone of the burner arrive as queued calls on the application
// object: they run on the main thread between other events, and the burner's threads never wait
// for them. Calls still queued when the burner is destroyed do nothing.
void PostBurnerEventsToMainThread(TDiscBurner& burner);
