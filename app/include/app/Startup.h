#pragma once
// The process's main function: runtime start, class registration, the start-up
// sequence, the event loop, the last-resort handler, shut-down and the exit code.
#include <functional>

namespace quillet {

// The steps of a run, in the order they happen.
enum class Step {
    RuntimeInit,
    Initialize,  // class registration
    InitExternalClasses,
    InitPluginEntrypoints,
    InitFileTypes,
    NewAppInstance,
    ApplicationAddMenuHandlers,
    MakeDefaultView,
    RuntimeRun,
    ReleaseToolkitObjects,  // the toolkit's window lists and introspection maps
    ReleaseMenuBar,
    ReleaseFileType,
    RuntimeExit,
};
const char* StepName(Step step);

// Runs the whole program and returns the process exit code: RuntimeExit's result, or
// 1 when there is no display to start on (after one line on standard error).
int RunQuillet(int& argc, char** argv);

// The start-up sequence, from the external classes to the end of the event loop, with
// its last-resort handler.
void _Main();
void _InitPluginEntrypoints();
void _InitFileTypes();
void _NewAppInstance();
void _ApplicationAddMenuHandlers();
void _MakeDefaultView();

// --- seam for tests ---------------------------------------------------------------
// Called just before each step. An exception it throws before a step of the start-up
// sequence (InitExternalClasses to RuntimeRun) counts as that step failing; one thrown
// before any other step is dropped. Pass nullptr to remove it.
void SetStepObserver(std::function<void(Step)> observer);

}  // namespace quillet
