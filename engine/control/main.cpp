// Program entry: everything else lives in the control library so tests can reach it.
#include "control/startup.h"

int main(int argc, char** argv) { return tavrix::RunEngine(argc, argv); }
