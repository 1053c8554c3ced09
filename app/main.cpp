#include "app/program.h"

int main(int argc, char **argv)
{
    return runConfigurator(argc, argv);
}
