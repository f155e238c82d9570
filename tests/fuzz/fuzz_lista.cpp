// Fuzzes the file list reader together with the update run's entry checks:
// whatever the document, an entry the checks accept never leads outside the
// installation or the cache folder.
#include "release/InstaladorVersion.h"
#include "release/XmlInstalador.h"

#include <glibmm/miscutils.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string rutaDocumento;

// A relative path without ".." components, whichever separator is used.
bool dentro(const std::string& relativa)
{
    if (relativa.empty() || relativa[0] == '/' || relativa[0] == '\\')
        return false;
    size_t inicio = 0;
    while (true) {
        const size_t fin = relativa.find_first_of("/\\", inicio);
        if (relativa.substr(inicio, fin == std::string::npos ? fin : fin - inicio) == "..")
            return false;
        if (fin == std::string::npos)
            return true;
        inicio = fin + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char plantilla[] = "/tmp/fuzz-lista-XXXXXX";
    const int fd = mkstemp(plantilla);
    if (fd < 0)
        std::abort();
    close(fd);
    rutaDocumento = plantilla;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* datos, size_t tamano)
{
    FILE* fichero = std::fopen(rutaDocumento.c_str(), "wb");
    if (fichero == nullptr)
        std::abort();
    std::fwrite(datos, 1, tamano, fichero);
    std::fclose(fichero);

    InstaladorVersion instalador(305063, "win32", "http://127.0.0.1/win32/305063", "");
    try {
        XmlInstalador lector(instalador);
        lector.set_substitute_entities(true);
        lector.parse_file(Glib::ustring(rutaDocumento));
    } catch (...) {
        return 0;  // an unreadable list gives the update up
    }
    // Sizes and hashes are checked too; whatever they hold, the check answers.
    const bool comprobaciones = instalador.comprobacionesValidas();
    if (!instalador.entradasSeguras() || !comprobaciones)
        return 0;
    for (int i = 0; i < instalador.getNumFicheros(); ++i) {
        const std::string nombre = instalador.getNombreFichero(i);
        const std::string ruta = instalador.getRutaFichero(i);
        // The cache path is the bare name; the installed path stays below the installation.
        if (nombre.empty() || nombre == "." || nombre == ".."
            || nombre.find_first_of("/\\") != std::string::npos || !dentro(ruta + nombre))
            std::abort();
    }
    return 0;
}
