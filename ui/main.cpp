#include "ui/application.h"

int main(int argc, char* argv[])
{
    return quillon::RunQuillon(argc, argv);
}
