#pragma once

#include <cstdint>
#include <string>

/// The settings record: the installed release number and a stored web service
/// address. Its file "datosVersion1.dat" is the record's 156-byte image: the
/// number as little-endian signed 32 bits, then the address NUL-terminated in
/// 152 bytes, zero padded.
class ConfigLauncher {
public:
    static constexpr std::size_t tamDireccion = 152;
    static constexpr std::size_t tamFichero = 4 + tamDireccion;

    /// Creates the settings and cache folders, then loads the settings file,
    /// or writes it with the defaults when it cannot be read.
    ConfigLauncher();
    ~ConfigLauncher();

    int getVersion() const;
    void setVersion(int version);
    std::string getDireccion() const;

    /// Stores `registro` at `ruta` whole or not at all (a temporary file in the
    /// same folder renamed over the old one). False when nothing was stored.
    bool escribFichConfig(std::string ruta, ConfigLauncher& registro);
    /// Loads up to 156 bytes of `ruta` into `registro`; false when the file
    /// cannot be opened. A short file replaces only the leading bytes.
    bool leerFichConfig(std::string ruta, ConfigLauncher& registro);
    void creaDirectorio(std::string ruta);

    /// The address the launcher stores when it creates the settings file.
    static std::string direccionPorDefecto();

private:
    std::int32_t version;
    char direccion[tamDireccion];
};
