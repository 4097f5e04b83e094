#pragma once

// The print and image threads drive the machine during a print; commands from
// anywhere else (pages, the remote link, the homing thread) that would move
// the axis or change the panel or the light are refused meanwhile. A thread
// marks itself when it starts.
void markEngineThread();
bool isEngineThread();
