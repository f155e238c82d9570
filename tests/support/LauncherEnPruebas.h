#pragma once

#include "support/EntornoPruebas.h"

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

/// A scratch installation of the real launcher binary, driven as a user would:
/// F/bin/tarsenvik-launcher with its data folder F/src, a recording
/// "tarsenvik.exe" beside it, and its own configuration folder.
class LauncherEnPruebas {
public:
    /// `conAplicacion` false leaves "tarsenvik.exe" out. `ejecutable` names
    /// the launcher binary of the build's bin/ that is installed under F/bin
    /// as "tarsenvik-launcher" (e.g. "tarsenvik-launcher-firmado").
    explicit LauncherEnPruebas(bool conAplicacion = true,
                               const std::string& ejecutable = "tarsenvik-launcher");
    ~LauncherEnPruebas();
    LauncherEnPruebas(const LauncherEnPruebas&) = delete;
    LauncherEnPruebas& operator=(const LauncherEnPruebas&) = delete;

    std::string instalacion() const;          // F
    std::string binario() const;              // F/bin/tarsenvik-launcher
    std::string configuracion() const;        // XDG_CONFIG_HOME of the launcher
    std::string carpetaAjustes() const;       // .../tarsenviklauncher
    std::string carpetaCache() const;         // .../datosTarsenvik
    std::string ficheroAjustes() const;       // .../datosVersion1.dat

    /// Writes a 156-byte settings file with `version` and an address.
    void escribirAjustes(int version, const std::string& direccion = "http://example/ws");
    /// The first four bytes of the settings file, little-endian.
    int versionAjustes() const;

    /// Starts the launcher with `argumentos` (argv[0] is the binary's path).
    void arrancar(const std::vector<std::string>& argumentos = {});
    /// Waits for the launcher's process to end; false on timeout (it is killed).
    bool esperarFin(std::chrono::milliseconds limite = std::chrono::seconds(30));
    /// True while the process runs, as the launcher or as the application it became.
    bool enMarcha();
    int estadoSalida() const { return estado; }
    std::string salida() const;
    std::string errores() const;

    /// The visible window with this title, or 0 after the time limit.
    unsigned long esperarVentana(const std::string& titulo,
                                 std::chrono::milliseconds limite = std::chrono::seconds(10));
    /// Whether a visible window with this title exists right now.
    static bool hayVentana(const std::string& titulo);
    /// Sends keys (xdotool syntax, e.g. "alt+u") to a window. A key that makes
    /// the window go away before the keys are released is not a failure.
    static void pulsar(unsigned long ventana, const std::string& teclas);
    /// A close request from the title bar: WM_DELETE_WINDOW, as a window manager sends it.
    static void cerrarDesdeTitulo(unsigned long ventana);

    /// Argument vectors the application was started with, in order.
    std::vector<std::vector<std::string>> arranquesAplicacion() const;

private:
    EntornoPruebas::CarpetaTemporal carpeta;
    pid_t proceso;
    int estado;
};
