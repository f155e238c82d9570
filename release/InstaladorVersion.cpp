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
    anadirFichero(std::move(nombre), std::move(ruta), std::string(), std::string());
}

void InstaladorVersion::anadirFichero(std::string nombre, std::string ruta, std::string bytes,
                                      std::string sha256)
{
    nombresFicheros.push_back(std::move(nombre));
    rutasFicheros.push_back(std::move(ruta));
    bytesFicheros.push_back(std::move(bytes));
    sha256Ficheros.push_back(std::move(sha256));
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

std::string InstaladorVersion::getBytesFichero(int indice) const
{
    if (indice < 0 || indice >= getNumFicheros())
        return std::string();
    return bytesFicheros[static_cast<size_t>(indice)];
}

std::string InstaladorVersion::getSha256Fichero(int indice) const
{
    if (indice < 0 || indice >= getNumFicheros())
        return std::string();
    return sha256Ficheros[static_cast<size_t>(indice)];
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

bool InstaladorVersion::leerBytes(const std::string& bytes, long long& valor)
{
    // 18 digits stay below the largest long long, so no overflow is possible.
    if (bytes.empty() || bytes.size() > 18
        || bytes.find_first_not_of("0123456789") != std::string::npos)
        return false;
    valor = 0;
    for (char cifra : bytes)
        valor = valor * 10 + (cifra - '0');
    return true;
}

bool InstaladorVersion::sha256Valido(const std::string& sha256)
{
    return sha256.size() == 64
           && sha256.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

bool InstaladorVersion::comprobacionesValidas() const
{
    long long valor = 0;
    for (size_t i = 0; i < bytesFicheros.size(); ++i) {
        if (!bytesFicheros[i].empty() && !leerBytes(bytesFicheros[i], valor))
            return false;
        if (!sha256Ficheros[i].empty() && !sha256Valido(sha256Ficheros[i]))
            return false;
    }
    return true;
}

bool InstaladorVersion::comprobacionesCompletas() const
{
    for (size_t i = 0; i < bytesFicheros.size(); ++i) {
        if (bytesFicheros[i].empty() || sha256Ficheros[i].empty())
            return false;
    }
    return true;
}
