// The entry point: the process frame (console/) runs the tool's main
// procedure. The one file that knows both layers.
#include "console/process.h"
#include "tool/main_procedure.h"

int main(int argc, char** argv) {
  return brevlith::run_process(argc, argv, &brevlith::main_procedure);
}
