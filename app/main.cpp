#include "app/OrvaneApp.h"

int main(int argc, char* argv[])
{
    COrvaneApp app(argc, argv);
    return app.Run();
}
