#include <iostream>

#include "front/FrontEnd.h"

int main(int argc, char* argv[]) { return trelvix::RunFrontEnd(argc, argv, std::cout, std::cerr); }
