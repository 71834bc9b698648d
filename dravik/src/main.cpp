#include "Driver.h"

#include "base/SignalCleanup.h"

int main(int argc, char** argv) {
  vesk::signal_cleanup::Install();
  return dravik::run_dravik(argc, argv);
}
