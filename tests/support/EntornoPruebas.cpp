#include "support/EntornoPruebas.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace EntornoPruebas {

std::string variable(const char* nombre)
{
    const char* valor = std::getenv(nombre);
    if (valor == nullptr) {
        ADD_FAILURE() << nombre << " is not set: run the tests through ctest";
        return std::string();
    }
    return valor;
}

int puertoBaseDatos() { return std::atoi(variable("TARSENVIK_TEST_DB_PORT").c_str()); }
int puertoHttp() { return std::atoi(variable("TARSENVIK_TEST_HTTP_PORT").c_str()); }
std::string carpetaServidor() { return variable("TARSENVIK_TEST_SERVER_DIR"); }
std::string carpetaFuentes() { return variable("TARSENVIK_SOURCE_DIR"); }
std::string carpetaCompilacion() { return variable("TARSENVIK_BUILD_DIR"); }

std::string leerFichero(const std::string& ruta)
{
    std::ifstream fichero(ruta, std::ios::binary);
    std::ostringstream contenido;
    contenido << fichero.rdbuf();
    return contenido.str();
}

void escribirFichero(const std::string& ruta, const std::string& contenido)
{
    fs::create_directories(fs::path(ruta).parent_path());
    std::ofstream fichero(ruta, std::ios::binary | std::ios::trunc);
    fichero.write(contenido.data(), static_cast<std::streamsize>(contenido.size()));
}

bool existe(const std::string& ruta)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(ruta, error));
}

std::vector<std::string> listarFicheros(const std::string& carpeta)
{
    std::vector<std::string> ficheros;
    std::error_code error;
    if (!fs::is_directory(carpeta, error))
        return ficheros;
    for (const auto& entrada : fs::recursive_directory_iterator(carpeta, error)) {
        if (entrada.is_regular_file())
            ficheros.push_back(fs::relative(entrada.path(), carpeta).string());
    }
    std::sort(ficheros.begin(), ficheros.end());
    return ficheros;
}

std::vector<std::pair<std::string, std::string>> instantanea(const std::string& carpeta)
{
    std::vector<std::pair<std::string, std::string>> contenido;
    for (const std::string& relativa : listarFicheros(carpeta))
        contenido.emplace_back(relativa, leerFichero(carpeta + "/" + relativa));
    return contenido;
}

int ejecutar(const std::string& orden)
{
    const int estado = std::system(orden.c_str());
    return WIFEXITED(estado) ? WEXITSTATUS(estado) : -1;
}

int ejecutarCapturando(const std::string& orden, std::string& salida)
{
    salida.clear();
    FILE* tuberia = popen(orden.c_str(), "r");
    if (tuberia == nullptr)
        return -1;
    char bloque[512];
    for (size_t leidos; (leidos = std::fread(bloque, 1, sizeof bloque, tuberia)) > 0;)
        salida.append(bloque, leidos);
    const int estado = pclose(tuberia);
    return WIFEXITED(estado) ? WEXITSTATUS(estado) : -1;
}

void dormirMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

CarpetaTemporal::CarpetaTemporal()
{
    std::string plantilla = (fs::temp_directory_path() / "tarsenvik-test-XXXXXX").string();
    if (mkdtemp(&plantilla[0]) == nullptr)
        ADD_FAILURE() << "cannot create a scratch folder";
    camino = plantilla;
}

CarpetaTemporal::~CarpetaTemporal()
{
    std::error_code error;
    // Tests make folders read-only; give the permissions back before removing.
    for (const auto& entrada : fs::recursive_directory_iterator(camino, error))
        fs::permissions(entrada.path(), fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(camino, error);
}

VariableTemporal::VariableTemporal(const char* nombre, const std::string& valor)
    : nombre(nombre), habia(std::getenv(nombre) != nullptr)
{
    if (habia)
        anterior = std::getenv(nombre);
    setenv(nombre, valor.c_str(), 1);
}

VariableTemporal::~VariableTemporal()
{
    if (habia)
        setenv(nombre.c_str(), anterior.c_str(), 1);
    else
        unsetenv(nombre.c_str());
}

} // namespace EntornoPruebas
