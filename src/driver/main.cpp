#include "driver/run.h"

int main(int argc, char** argv) { return tavo::run_tavogen(argc, argv); }
