// Ending the process at once with a status, as the commands do on failure.
#ifndef RXB540_APP_PROCESS_EXIT_H
#define RXB540_APP_PROCESS_EXIT_H

[[noreturn]] void EndProcess(int status);

#endif  // RXB540_APP_PROCESS_EXIT_H
