#include "repair/repair_command.h"

int main(int argc, char** argv) {
    return movarin::repair::repair_command(std::vector<std::string>(argv + 1, argv + argc));
}
