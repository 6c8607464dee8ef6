// Compiled against one layer's include roots with LAYER_HEADER naming the
// header to reach: a header of the layer itself or below compiles, one of a
// layer above (or of a sibling) must not be found.
#include LAYER_HEADER

int main() { return 0; }
