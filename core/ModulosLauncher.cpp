#include "core/ModulosLauncher.h"

#include "release/InstaladorVersion.h"
#include "release/InstallTarsenvik.h"

#include <utility>

ModulosLauncher::ModulosLauncher()
    : installTarsenvik(nullptr), instaladorVersion(nullptr)
{
    installTarsenvik = new InstallTarsenvik();
}

ModulosLauncher::~ModulosLauncher()
{
    delete instaladorVersion;
    delete installTarsenvik;
}

DescargaActualizacion* ModulosLauncher::getDescargaActualizacion() { return &descargaActualizacion; }
ConfigLauncher* ModulosLauncher::getConfigLauncher() { return &configLauncher; }
InstallTarsenvik* ModulosLauncher::getInstallTarsenvik() { return installTarsenvik; }
InstaladorVersion* ModulosLauncher::getInstaladorVersion() { return instaladorVersion; }

void ModulosLauncher::crearInstaladorVersion(double version, std::string plataforma,
                                             std::string pathXml, std::string descripcion)
{
    delete instaladorVersion;
    instaladorVersion = new InstaladorVersion(static_cast<int>(version), std::move(plataforma),
                                              std::move(pathXml), std::move(descripcion));
}
