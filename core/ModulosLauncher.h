#pragma once

#include "transfer/ConfigLauncher.h"
#include "transfer/DescargaActualizacion.h"

#include <string>

class InstallTarsenvik;
class InstaladorVersion;

/// The launcher's working objects: the downloader and the settings by value,
/// and the two release records, which the module set owns. Getters hand out
/// pointers that stay owned here.
class ModulosLauncher {
public:
    ModulosLauncher();
    ~ModulosLauncher();
    ModulosLauncher(const ModulosLauncher&) = delete;
    ModulosLauncher& operator=(const ModulosLauncher&) = delete;

    DescargaActualizacion* getDescargaActualizacion();
    ConfigLauncher* getConfigLauncher();
    InstallTarsenvik* getInstallTarsenvik();
    /// Null until crearInstaladorVersion.
    InstaladorVersion* getInstaladorVersion();

    void crearInstaladorVersion(double version, std::string plataforma, std::string pathXml,
                                std::string descripcion);

private:
    DescargaActualizacion descargaActualizacion;
    ConfigLauncher configLauncher;
    InstallTarsenvik* installTarsenvik;      // owned
    InstaladorVersion* instaladorVersion;    // owned; null before a newer release is found
};
