#pragma once

#include "release/InstallTarsenvik.h"

#include <string>
#include <vector>

/// The release being installed: the release row plus its ordered file list,
/// each entry a file name and a destination folder relative to the installation.
class InstaladorVersion : public InstallTarsenvik {
public:
    InstaladorVersion(int version, std::string plataforma, std::string pathXmlListado,
                      std::string descripcion);

    void anadirFichero(std::string nombre, std::string ruta);
    int getNumFicheros() const;
    /// Valid indexes are 0 to getNumFicheros() - 1; others give an empty text.
    std::string getNombreFichero(int indice) const;
    std::string getRutaFichero(int indice) const;

    /// True when every entry can be installed without leaving the installation
    /// and cache folders: a bare, non-empty file name, and a relative destination
    /// folder without ".." components.
    bool entradasSeguras() const;
    static bool nombreSeguro(const std::string& nombre);
    static bool rutaSegura(const std::string& ruta);

private:
    std::vector<std::string> nombresFicheros;
    std::vector<std::string> rutasFicheros;
};
