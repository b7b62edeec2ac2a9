#include "clients/ctl/ctl.h"

int main(int argc, char *argv[])
{
    return RunCtl(argc, argv);
}
