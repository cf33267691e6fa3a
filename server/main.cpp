// corvantis-server: the alarm server that cameras log in to and upload snapshots to.
#include "server/cli.h"

int main(int argc, char** argv) {
  return corvantis::server::RunCommandLine(argc, argv);
}
