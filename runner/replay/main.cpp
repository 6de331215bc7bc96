// halvex-replay: the replay command on its own.
#include "runner/replay/replay_command.h"

int main(int argc, char** argv) { return runner::replay::RunReplay(argc, argv); }
