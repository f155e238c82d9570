#include "transfer/ConfigLauncher.h"

#include "ui/UtilesLauncher.h"

#include <ConfiguracionCompilacion.h>
#include <giomm/file.h>
#include <glibmm/fileutils.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>

namespace {

const char* const nombreFichero = "datosVersion1.dat";

// Closes the temporary settings file on every way out of the write.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor()
    {
        if (fd >= 0)
            close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd; }

private:
    int fd;
};

} // namespace

ConfigLauncher::ConfigLauncher()
    : version(0), direccion{}
{
    creaDirectorio(UtilesLauncher::obtenerDireccionConfig());
    creaDirectorio(UtilesLauncher::obtenerDireccionCache());
    const std::string ruta = UtilesLauncher::direccionConfig(nombreFichero);
    if (!leerFichConfig(ruta, *this)) {
        version = 2;
        std::memset(direccion, 0, sizeof direccion);
        const std::string porDefecto = direccionPorDefecto();
        std::memcpy(direccion, porDefecto.data(),
                    std::min(porDefecto.size(), sizeof direccion - 1));
        escribFichConfig(ruta, *this);
    }
}

ConfigLauncher::~ConfigLauncher() = default;

int ConfigLauncher::getVersion() const { return version; }

void ConfigLauncher::setVersion(int nueva) { version = nueva; }

std::string ConfigLauncher::getDireccion() const
{
    return std::string(direccion, strnlen(direccion, sizeof direccion));
}

std::string ConfigLauncher::direccionPorDefecto()
{
    return std::string("http://") + ConfiguracionCompilacion::servidorActualizaciones
           + ":8080/dbMorvane4/updateTarsenvik";
}

bool ConfigLauncher::escribFichConfig(std::string ruta, ConfigLauncher& registro)
{
    unsigned char imagen[tamFichero] = {};
    const std::uint32_t numero = static_cast<std::uint32_t>(registro.version);
    for (int b = 0; b < 4; ++b)
        imagen[b] = static_cast<unsigned char>(numero >> (8 * b));
    std::memcpy(imagen + 4, registro.direccion, tamDireccion);

    // A crash mid-write must never leave a short settings file behind.
    std::string temporal = ruta + ".XXXXXX";
    const Descriptor fd(mkstemp(&temporal[0]));
    if (fd.get() < 0)
        return false;
    bool escrito = write(fd.get(), imagen, sizeof imagen) == static_cast<ssize_t>(sizeof imagen);
    escrito = escrito && fsync(fd.get()) == 0;
    if (escrito)
        escrito = std::rename(temporal.c_str(), ruta.c_str()) == 0;
    if (!escrito)
        unlink(temporal.c_str());
    return escrito;
}

bool ConfigLauncher::leerFichConfig(std::string ruta, ConfigLauncher& registro)
{
    if (Glib::file_test(ruta, Glib::FILE_TEST_IS_DIR))
        return false;
    std::ifstream fichero(ruta, std::ios_base::in | std::ios_base::binary);
    if (!fichero)
        return false;
    unsigned char imagen[tamFichero] = {};
    fichero.read(reinterpret_cast<char*>(imagen), sizeof imagen);
    const std::size_t leidos = static_cast<std::size_t>(fichero.gcount());

    // The bytes present replace the record's leading bytes; the rest keep their values.
    std::uint32_t numero = static_cast<std::uint32_t>(registro.version);
    for (std::size_t b = 0; b < 4 && b < leidos; ++b) {
        numero &= ~(0xffu << (8 * b));
        numero |= static_cast<std::uint32_t>(imagen[b]) << (8 * b);
    }
    registro.version = static_cast<std::int32_t>(numero);
    if (leidos > 4)
        std::memcpy(registro.direccion, imagen + 4, leidos - 4);
    // A damaged file may hold no terminator in the field.
    registro.direccion[tamDireccion - 1] = '\0';
    return true;
}

void ConfigLauncher::creaDirectorio(std::string ruta)
{
    if (Glib::file_test(ruta, Glib::FILE_TEST_IS_DIR))
        return;
    if (Glib::file_test(ruta, Glib::FILE_TEST_IS_REGULAR)) {
        try {
            Gio::File::create_for_path(ruta)->remove();
        } catch (const Glib::Error&) {
            std::cout << "Error while deleting the file" << std::endl;
        }
    }
    try {
        Gio::File::create_for_path(ruta)->make_directory();
    } catch (const Glib::Error&) {
        std::cout << "Error while creating the folder" << std::endl;
    }
}
