#pragma once

typedef struct _GdkEventAny GdkEventAny;

class InterfazLauncher;
class InstaladorVersion;
class ModulosLauncher;

/// The controller: runs the release check, the user's choice and the update
/// run. Owns the launcher window and the module set.
class NucleoLauncher {
public:
    static constexpr int versionMinima = 305062;

    NucleoLauncher();
    ~NucleoLauncher();
    NucleoLauncher(const NucleoLauncher&) = delete;
    NucleoLauncher& operator=(const NucleoLauncher&) = delete;

    InterfazLauncher* getInterfazLaunch() const;
    ModulosLauncher* getModulosLauncher() const;

    /// True when a newer release was found and the window is ready to offer it.
    bool comprobarNuevasActualizaciones();
    void skipVersionActual();
    void remindLaterVersion();

    /// The update run, the update button's handler.
    void iniciarActualizacion();
    bool obtenerDatosDeActualizacion();
    bool descargaDatos();
    bool borraCacheDescarga(InstaladorVersion& instalador, int numFicheros);

private:
    /// Puts every downloaded file in place, or none: on failure the
    /// installation is as it was before.
    bool instalarFicheros();
    void abandonarActualizacion();
    /// A close from the title bar during the run: the run gives up, also in
    /// the middle of a file, instead of keeping the user from the application.
    bool alCerrarVentana(GdkEventAny* evento);

    InterfazLauncher* interfazLauncher;   // owned
    ModulosLauncher* modulosLauncher;     // owned
    bool actualizando;
    bool cancelada;  // the window was closed during the run
};
