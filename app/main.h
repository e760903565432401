// The application's own control flow, called once by the shell-application
// start-up with the converted arguments.
#pragma once

namespace app {
int main(int argc, char **argv);
}
