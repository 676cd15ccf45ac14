// qel_vprinter: command-line front end of the virtual printer.
#include "virtual_printer.h"

#include <cstdio>

int main()
{
    std::puts("qel_vprinter: not built yet");
    return 1;
}
