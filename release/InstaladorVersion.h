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
    /// An entry with the file's declared size (decimal) and SHA-256 (hex),
    /// each as the file list gives it; empty when not given.
    void anadirFichero(std::string nombre, std::string ruta, std::string bytes,
                       std::string sha256);
    int getNumFicheros() const;
    /// Valid indexes are 0 to getNumFicheros() - 1; others give an empty text.
    std::string getNombreFichero(int indice) const;
    std::string getRutaFichero(int indice) const;
    std::string getBytesFichero(int indice) const;
    std::string getSha256Fichero(int indice) const;

    /// True when every entry can be installed without leaving the installation
    /// and cache folders: a bare, non-empty file name, and a relative destination
    /// folder without ".." components.
    bool entradasSeguras() const;
    static bool nombreSeguro(const std::string& nombre);
    static bool rutaSegura(const std::string& ruta);

    /// True when every size and hash that is given is well formed; a list
    /// with a malformed one is refused as unreadable.
    bool comprobacionesValidas() const;
    /// True when every entry gives both its size and its hash.
    bool comprobacionesCompletas() const;
    /// A size: 1 to 18 decimal digits, nothing else. Its value in `valor`.
    static bool leerBytes(const std::string& bytes, long long& valor);
    /// A SHA-256: exactly 64 hexadecimal digits, either case.
    static bool sha256Valido(const std::string& sha256);

private:
    std::vector<std::string> nombresFicheros;
    std::vector<std::string> rutasFicheros;
    std::vector<std::string> bytesFicheros;
    std::vector<std::string> sha256Ficheros;
};
