// Stands in for the application in the tests: appends its argument vector to
// the file named by TARSENVIK_RECORD, one argument per line, ended by a line
// holding only "--end--", then exits 0.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const char* registro = std::getenv("TARSENVIK_RECORD");
    if (registro == nullptr)
        return 0;
    FILE* fichero = std::fopen(registro, "a");
    if (fichero == nullptr)
        return 1;
    for (int i = 0; i < argc; ++i)
        std::fprintf(fichero, "%s\n", argv[i]);
    std::fprintf(fichero, "--end--\n");
    std::fclose(fichero);
    return 0;
}
