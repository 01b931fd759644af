#include "CommandLine.h"
#include "Startup.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    if (const std::optional<int> answered = answerCommandLine(argc, argv))
        return *answered;
    QApplication app(argc, argv);
    return runSpacewell(app);
}
