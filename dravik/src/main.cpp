#include "Driver.h"

int main(int argc, char** argv) {
    return dravik::run_dravik(argc, argv);
}
