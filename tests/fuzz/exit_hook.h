// The fuzz targets' process exit: instead of ending the process, EndProcess
// returns to the code that started the command line, so that every path of
// the command line, its failures included, can run in-process.
#ifndef RXB540_TESTS_FUZZ_EXIT_HOOK_H
#define RXB540_TESTS_FUZZ_EXIT_HOOK_H

struct CommandLineRun {
    bool endedThroughProcessExit;
    int status;  // the entry point's return value, or the status given to EndProcess
};

// Runs RunCommandLine(argc, argv) and catches a process exit on the way.
CommandLineRun RunCommandLineCatchingExit(int argc, char **argv);

#endif  // RXB540_TESTS_FUZZ_EXIT_HOOK_H
