#include "summary/summary.h"

int main(int argc, char** argv) { return tavosum::run(argc, argv); }
