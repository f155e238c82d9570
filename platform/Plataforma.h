#pragma once

#include <string>

/// The few calls that differ between platforms: where the installation lives,
/// how the application is found and how the launcher hands its process over.
class Plataforma {
public:
    Plataforma() = delete;

    /// Folder of the running executable, or its parent when that folder is
    /// named "bin" or "lib". Empty when the executable's path cannot be read.
    static std::string directorioInstalacion();

    /// Folder that holds the running executable itself.
    static std::string directorioEjecutable();

    /// The program search: the launcher's own folder first, then PATH.
    /// Empty when the program is found nowhere.
    static std::string buscarPrograma(const std::string& nombre);

    /// Replaces this process with the program at `ruta`, passing `argv`
    /// (null-terminated) unchanged. Returns only when that fails.
    static void reemplazarProceso(const std::string& ruta, char** argv);
};
