#include "platform/Plataforma.h"

#include <glibmm/fileutils.h>
#include <glibmm/miscutils.h>
#include <unistd.h>

#include <climits>
#include <vector>

std::string Plataforma::directorioEjecutable()
{
    std::vector<char> ruta(PATH_MAX + 1);
    const ssize_t leidos = readlink("/proc/self/exe", ruta.data(), ruta.size() - 1);
    if (leidos <= 0)
        return std::string();
    return Glib::path_get_dirname(std::string(ruta.data(), static_cast<size_t>(leidos)));
}

std::string Plataforma::directorioInstalacion()
{
    const std::string carpeta = directorioEjecutable();
    if (carpeta.empty())
        return carpeta;
    const std::string nombre = Glib::path_get_basename(carpeta);
    if (nombre == "bin" || nombre == "lib")
        return Glib::path_get_dirname(carpeta);
    return carpeta;
}

std::string Plataforma::buscarPrograma(const std::string& nombre)
{
    // Like the Windows program search, a program beside the launcher wins over PATH.
    const std::string carpeta = directorioEjecutable();
    if (!carpeta.empty()) {
        const std::string junto = Glib::build_filename(carpeta, nombre);
        if (Glib::file_test(junto, Glib::FILE_TEST_IS_EXECUTABLE)
            && !Glib::file_test(junto, Glib::FILE_TEST_IS_DIR))
            return junto;
    }
    return Glib::find_program_in_path(nombre);
}

void Plataforma::reemplazarProceso(const std::string& ruta, char** argv)
{
    if (ruta.empty())
        return;
    execv(ruta.c_str(), argv);
}
