#include "release/InstaladorVersion.h"

#include <utility>

InstaladorVersion::InstaladorVersion(int version, std::string plataforma,
                                     std::string pathXmlListado, std::string descripcion)
{
    setUltimaVersion(version);
    setPlataforma(std::move(plataforma));
    setPathXmlListado(std::move(pathXmlListado));
    setDescripcionActualizacion(std::move(descripcion));
}

void InstaladorVersion::anadirFichero(std::string nombre, std::string ruta)
{
    nombresFicheros.push_back(std::move(nombre));
    rutasFicheros.push_back(std::move(ruta));
}

int InstaladorVersion::getNumFicheros() const
{
    return static_cast<int>(nombresFicheros.size());
}

std::string InstaladorVersion::getNombreFichero(int indice) const
{
    if (indice < 0 || indice >= getNumFicheros())
        return std::string();
    return nombresFicheros[static_cast<size_t>(indice)];
}

std::string InstaladorVersion::getRutaFichero(int indice) const
{
    if (indice < 0 || indice >= getNumFicheros())
        return std::string();
    return rutasFicheros[static_cast<size_t>(indice)];
}

bool InstaladorVersion::nombreSeguro(const std::string& nombre)
{
    // The name is a path in the flat cache folder and the last part of the
    // installed path, so it may not name a folder or climb out of one.
    if (nombre.empty() || nombre == "." || nombre == "..")
        return false;
    return nombre.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

bool InstaladorVersion::rutaSegura(const std::string& ruta)
{
    if (ruta.empty())
        return true;
    if (ruta.find('\0') != std::string::npos)
        return false;
    // Absolute on either platform: a leading separator or a drive letter.
    if (ruta[0] == '/' || ruta[0] == '\\' || (ruta.size() > 1 && ruta[1] == ':'))
        return false;
    size_t inicio = 0;
    while (inicio <= ruta.size()) {
        const size_t fin = ruta.find_first_of("/\\", inicio);
        const std::string parte = ruta.substr(inicio, fin == std::string::npos ? std::string::npos
                                                                                : fin - inicio);
        if (parte == "..")
            return false;
        if (fin == std::string::npos)
            break;
        inicio = fin + 1;
    }
    return true;
}

bool InstaladorVersion::entradasSeguras() const
{
    for (size_t i = 0; i < nombresFicheros.size(); ++i) {
        if (!nombreSeguro(nombresFicheros[i]) || !rutaSegura(rutasFicheros[i]))
            return false;
    }
    return true;
}
