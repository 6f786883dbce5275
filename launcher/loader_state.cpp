#include "launcher/loader_state.h"

LoaderState loader;

void clearLoaderState() { loader = LoaderState{}; }
