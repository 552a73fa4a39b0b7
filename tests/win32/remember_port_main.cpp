// remember_port <n>: stores n through the settings store, for checks with `reg query`.
#include <cstdlib>

#include "settings_store.h"

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    remember_port(static_cast<uint16_t>(std::atoi(argv[1])));
    return 0;
}
