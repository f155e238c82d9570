// Prints the launcher's data, layout and image paths as the running executable
// computes them, one per line.
#include "ui/UtilesLauncher.h"

#include <iostream>

int main()
{
    std::cout << UtilesLauncher::getDataDir() << '\n'
              << UtilesLauncher::getGladeFile("DialogoNotasActualiza.glade") << '\n'
              << UtilesLauncher::getIconoFile("error.png") << std::endl;
    return 0;
}
