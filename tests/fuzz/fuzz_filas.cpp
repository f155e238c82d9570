// Fuzzes the release row choice: rows come as text, one per line, the release
// number and the platform separated by a tab ("\N" is a NULL number). The row
// chosen is the first one of the platform with the greatest number above 0.
#include "release/ConexionBD.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// atoi's reading, done by strtoll, for numbers that fit 32 bits; else 0.
int referencia(const std::string& texto)
{
    const std::string sinNul = texto.substr(0, texto.find('\0'));
    errno = 0;
    const long long valor = std::strtoll(sinNul.c_str(), nullptr, 10);
    if (errno == ERANGE || valor > INT_MAX || valor < INT_MIN)
        return 0;
    return static_cast<int>(valor);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* datos, size_t tamano)
{
    const std::string texto(reinterpret_cast<const char*>(datos), tamano);
    std::vector<ConexionBD::FilaVersion> filas;
    size_t inicio = 0;
    while (inicio < texto.size()) {
        size_t fin = texto.find('\n', inicio);
        if (fin == std::string::npos)
            fin = texto.size();
        const std::string linea = texto.substr(inicio, fin - inicio);
        const size_t tab = linea.find('\t');
        ConexionBD::FilaVersion fila;
        fila.version = linea.substr(0, tab);
        fila.versionNula = fila.version == "\\N";
        if (tab != std::string::npos)
            fila.plataforma = linea.substr(tab + 1);
        filas.push_back(fila);
        inicio = fin + 1;
    }

    const long elegida = ConexionBD::elegirFila(filas, "win32");
    int mejor = 0;
    long esperada = -1;
    for (size_t i = 0; i < filas.size(); ++i) {
        const int numero = filas[i].versionNula ? 0 : referencia(filas[i].version);
        if (ConexionBD::leerVersion(filas[i].version, filas[i].versionNula) != numero)
            std::abort();
        if (filas[i].plataforma == "win32" && numero > mejor) {
            mejor = numero;
            esperada = static_cast<long>(i);
        }
    }
    if (elegida != esperada)
        std::abort();
    return 0;
}
