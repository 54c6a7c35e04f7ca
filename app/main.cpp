#include "app/CommandLine.h"
#include "app/OrvaneApp.h"
#include "ui/RenderBackend.h"

#include <iostream>

int main(int argc, char* argv[])
{
    if (const std::optional<int> code = AnswerInfoOptions(argc, argv, std::cout))
        return *code;
    ChooseGlBeforeApplication();
    COrvaneApp app;
    app.m_bPlayLogArgument = true;
    return app.Run(argc, argv);
}
