// The registration tools the program started and has not yet heard the end of:
// their process handles, each under the id the portable core knows it by.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "platform/platform_services.h"
#include "platform/windows/handles.h"

namespace tarnwick::win {

// Ends a program that overran its limit, and waits a little for it to be
// gone, so that the files it had loaded are let go before they are used again.
void EndOverrunProgram(HANDLE process);

// Receives a started program's end and its exit code.
using ProgramEndSink = std::function<void(ProgramId, DWORD exitCode)>;

class RunningPrograms {
public:
    // Keeps `process` (started at `startTick`, GetTickCount's time) and
    // returns its new id.
    ProgramId Add(UniqueHandle process, DWORD startTick);

    // Where ends are delivered by DeliverEnded; none delivers nothing, so the
    // programs stay for Finish.
    void SetSink(ProgramEndSink sink) { sink_ = std::move(sink); }

    // The handles to wait on together with the messages: at most
    // MAXIMUM_WAIT_OBJECTS - 1, none without a sink.
    std::vector<HANDLE> WaitHandles() const;

    // Delivers every program that has ended to the sink, and forgets it.
    void DeliverEnded();

    // Waits for `id` until `limitMs` after its start, handling this thread's
    // messages meanwhile, ends it if still running, and forgets it.
    ProgramEnd Finish(ProgramId id, DWORD limitMs);

private:
    struct Program {
        ProgramId id;
        UniqueHandle process;
        DWORD startTick;
    };
    std::vector<Program> programs_;
    ProgramId lastId_ = kNoProgram;
    ProgramEndSink sink_;
};

}  // namespace tarnwick::win
