// Linked into the fuzz targets in place of src/app/process_exit.cpp.
#include "exit_hook.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include "app/commands.h"
#include "app/process_exit.h"

namespace {

std::jmp_buf *returnPoint = nullptr;
int exitStatus = 0;

}  // namespace

// Every function between RunCommandLine and a call of EndProcess holds only
// trivially destructible locals (std::exit would not destroy them either), so
// jumping over their frames skips no destructor.
void EndProcess(int status) {
    if (returnPoint == nullptr) {
        std::fprintf(stderr, "EndProcess(%d) outside RunCommandLineCatchingExit\n", status);
        std::abort();
    }
    exitStatus = status;
    std::longjmp(*returnPoint, 1);  // NOLINT(cert-err52-cpp): the one way back from a [[noreturn]] exit
}

CommandLineRun RunCommandLineCatchingExit(int argc, char **argv) {
    std::jmp_buf here;
    returnPoint = &here;
    if (setjmp(here) != 0) {  // NOLINT(cert-err52-cpp): see EndProcess
        returnPoint = nullptr;
        return {true, exitStatus};
    }
    const int status = RunCommandLine(argc, argv);
    returnPoint = nullptr;
    return {false, status};
}
