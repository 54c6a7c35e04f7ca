#include "app/OrvaneApp.h"

int main(int argc, char* argv[])
{
    COrvaneApp app;
    return app.Run(argc, argv);
}
