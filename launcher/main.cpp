// Quorbel: plays the game's tune, shows the title and starts the game in the
// emulator on key 1 (full screen) or 2 (in a window). It takes no arguments.
#include "launcher/loader.h"

int main() { runLauncher(); }
