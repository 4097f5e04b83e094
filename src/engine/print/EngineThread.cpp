#include "engine/print/EngineThread.h"

namespace {
thread_local bool t_engineThread = false;
}

void markEngineThread()
{
    t_engineThread = true;
}

bool isEngineThread()
{
    return t_engineThread;
}
