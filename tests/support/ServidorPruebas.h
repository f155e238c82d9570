#pragma once

#include <string>

/// The test run's own update server (real MariaDB and HTTP server), started
/// by the ctest fixture. Gives tests the root account over the Unix socket.
class ServidorPruebas {
public:
    /// Makes sure the server runs. The test runner starts it for the tests that
    /// declare they need it; for any other, this process starts it and stops it
    /// again when it ends. False (and a failure) when it cannot be started.
    static bool asegurarServidor();
    /// Runs statements as root in the database "tarsenvik_update"; a failure
    /// fails the calling test. False on failure.
    static bool sql(const std::string& sentencias);
    static void vaciarVersiones();
    static void insertarVersion(int version, const std::string& plataforma,
                                const std::string& descripcion, const std::string& base);
    /// The base URL of the release folders, "http://127.0.0.1:PORT".
    static std::string urlBase();
    /// The folder the HTTP server serves.
    static std::string carpetaWww();
    static std::string socket();
    /// Publishes `carpeta` as release `version` of "win32" with `server/publish`;
    /// its exit status.
    static int publicar(const std::string& carpeta, int version, const std::string& notas);
};
