// Process entry.
#include "runtime/runtime.h"

int main(int argc, char** argv) { pellux::start(argc, argv); }
