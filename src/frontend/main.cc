#include "frontend/program.h"

int main(int argc, char** argv) { return quarvel::runProgram(argc, argv); }
