#include "ui/corvane_app.h"

int main(int argc, char* argv[])
{
    return quillon::RunQuillon(argc, argv);
}
