#pragma once

#include <string>
#include <vector>

class InstallTarsenvik;

/// The release database of the update server. Holds only the fixed connection
/// values; every query opens its own connection and closes it before returning.
class ConexionBD {
public:
    /// Seconds that the connection, and each read or write on it, may take:
    /// a server that accepts and never answers must not hold up the application.
    static constexpr int segundosEspera = 5;

    ConexionBD();
    /// Another server or account; the shipped launcher uses only the fixed one.
    ConexionBD(std::string baseDatos, std::string servidor, std::string usuario,
               std::string clave, unsigned int puerto);
    ~ConexionBD();

    /// Looks for the newest release of `plataforma` numbered above
    /// `versionInstalada`. True when one exists: `fila` then describes it and
    /// its release folder URL has been printed. False otherwise, with `fila`
    /// untouched; a connection or query failure is printed on standard error.
    bool obtenerDatosBD(std::string plataforma, int versionInstalada, InstallTarsenvik& fila);

    /// One row of the release table as read: NULL columns come as empty texts.
    struct FilaVersion {
        std::string version;
        bool versionNula = false;
        std::string plataforma;
    };

    /// The release number of a "t_version" text, read like atoi; NULL, and
    /// numbers outside the 32-bit range, read as 0.
    static int leerVersion(const std::string& texto, bool nulo);

    /// Index of the row to offer: among the rows of `plataforma`, the first one
    /// with the greatest number above 0; -1 when there is none.
    static long elegirFila(const std::vector<FilaVersion>& filas, const std::string& plataforma);

private:
    std::string baseDatos;
    std::string servidor;
    std::string usuario;
    std::string clave;
    unsigned int puerto;
};
