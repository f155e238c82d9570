#include "release/InstallTarsenvik.h"

#include <utility>

InstallTarsenvik::InstallTarsenvik()
    : ultimaVersion(0)
{
}

int InstallTarsenvik::getUltimaVersion() const { return ultimaVersion; }
std::string InstallTarsenvik::getPlataforma() const { return plataforma; }
std::string InstallTarsenvik::getPathXmlListado() const { return pathXmlListado; }
std::string InstallTarsenvik::getDescripcionActualizacion() const { return descripcionActualizacion; }

void InstallTarsenvik::setUltimaVersion(int version) { ultimaVersion = version; }
void InstallTarsenvik::setPlataforma(std::string valor) { plataforma = std::move(valor); }
void InstallTarsenvik::setPathXmlListado(std::string valor) { pathXmlListado = std::move(valor); }
void InstallTarsenvik::setDescripcionActualizacion(std::string valor)
{
    descripcionActualizacion = std::move(valor);
}
