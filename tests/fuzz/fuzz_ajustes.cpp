// Fuzzes the settings file loader: any file content loads without reading past
// the record, and what is loaded is stored and loaded back unchanged.
#include "transfer/ConfigLauncher.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

std::string carpeta;
std::unique_ptr<ConfigLauncher> registro;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char plantilla[] = "/tmp/fuzz-ajustes-XXXXXX";
    if (mkdtemp(plantilla) == nullptr)
        std::abort();
    carpeta = plantilla;
    setenv("XDG_CONFIG_HOME", carpeta.c_str(), 1);
    registro.reset(new ConfigLauncher());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* datos, size_t tamano)
{
    const std::string ruta = carpeta + "/entrada.dat";
    FILE* fichero = std::fopen(ruta.c_str(), "wb");
    if (fichero == nullptr)
        std::abort();
    std::fwrite(datos, 1, tamano, fichero);
    std::fclose(fichero);

    ConfigLauncher& config = *registro;
    config.setVersion(0);
    if (!config.leerFichConfig(ruta, config))
        std::abort();
    const std::string direccion = config.getDireccion();
    if (direccion.size() >= ConfigLauncher::tamDireccion)
        std::abort();
    if (tamano >= 4) {
        const int esperado = static_cast<int>(static_cast<unsigned>(datos[0]) | static_cast<unsigned>(datos[1]) << 8
                                              | static_cast<unsigned>(datos[2]) << 16
                                              | static_cast<unsigned>(datos[3]) << 24);
        if (config.getVersion() != esperado)
            std::abort();
    }

    const std::string copia = carpeta + "/copia.dat";
    if (!config.escribFichConfig(copia, config))
        std::abort();
    const int version = config.getVersion();
    config.setVersion(~version);  // any other number: the read must replace it
    if (!config.leerFichConfig(copia, config) || config.getVersion() != version
        || config.getDireccion() != direccion)
        std::abort();
    return 0;
}
