#pragma once

#include <string>

/// One release as the release database describes it. A plain value type.
class InstallTarsenvik {
public:
    InstallTarsenvik();

    int getUltimaVersion() const;
    std::string getPlataforma() const;
    /// URL of the release folder: base URL, "/", platform, "/", number.
    std::string getPathXmlListado() const;
    std::string getDescripcionActualizacion() const;

    void setUltimaVersion(int version);
    void setPlataforma(std::string plataforma);
    void setPathXmlListado(std::string path);
    void setDescripcionActualizacion(std::string descripcion);

private:
    int ultimaVersion;
    std::string plataforma;
    std::string pathXmlListado;
    std::string descripcionActualizacion;
};
