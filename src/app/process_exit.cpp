#include "app/process_exit.h"

#include <cstdlib>

void EndProcess(int status) {
    std::exit(status);
}
