#include "Emulator.h"
#include "SimOptions.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace {

void onSignal(int)
{
    Emulator::requestStop();
}

} // namespace

int main(int argc, char** argv)
{
    SimOptions options;
    std::string error;
    if (!SimOptions::parse(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::cerr << "tavrix-sim: " << error << "\n" << SimOptions::usage();
        return 2;
    }
    if (options.help) {
        std::cout << SimOptions::usage();
        return 0;
    }
    if (options.version) {
        std::cout << "tavrix-sim " << TAVRIX_VERSION << "\n";
        return 0;
    }

    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal; // no SA_RESTART: poll returns at once
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    if (options.control)
        fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);

    Emulator emulator(options);
    return emulator.run();
}
