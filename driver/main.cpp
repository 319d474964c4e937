// Process entry: the presentation takes no arguments and reads no configuration.
#include "driver/demo_main.h"

int main() {
    return demo_main();
}
