// The program's one context.
#include "kernel/context.h"

ClientContext gClient;

OptionsStore& Options() { return gClient.options; }
