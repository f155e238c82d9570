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

namespace {

// The build tree this test executable belongs to: it lives in <build>/bin.
std::string compilacionPropia()
{
    std::error_code error;
    const fs::path ejecutable = fs::read_symlink("/proc/self/exe", error);
    if (error)
        return std::string();
    return ejecutable.parent_path().parent_path().string();
}

std::string entradaCache(const std::string& compilacion, const std::string& clave)
{
    std::ifstream cache(compilacion + "/CMakeCache.txt");
    for (std::string linea; std::getline(cache, linea);) {
        if (linea.compare(0, clave.size() + 1, clave + ":") == 0) {
            const size_t igual = linea.find('=');
            if (igual != std::string::npos)
                return linea.substr(igual + 1);
        }
    }
    return std::string();
}

// What the test runner would have set, read from the build tree itself, for a
// run without it (or one whose environment did not arrive).
std::string valorDeCompilacion(const std::string& nombre)
{
    const std::string compilacion = compilacionPropia();
    if (compilacion.empty() || !fs::exists(compilacion + "/CMakeCache.txt"))
        return std::string();
    if (nombre == "TARSENVIK_BUILD_DIR")
        return compilacion;
    if (nombre == "TARSENVIK_SOURCE_DIR")
        return entradaCache(compilacion, "CMAKE_HOME_DIRECTORY");
    if (nombre == "TARSENVIK_TEST_DB_PORT")
        return entradaCache(compilacion, "TARSENVIK_UPDATE_DB_PORT");
    if (nombre == "TARSENVIK_TEST_HTTP_PORT")
        return entradaCache(compilacion, "TARSENVIK_TEST_HTTP_PORT");
    if (nombre == "TARSENVIK_TEST_SERVER_DIR") {
        // As tests/CMakeLists.txt names it.
        const std::string puerto = entradaCache(compilacion, "TARSENVIK_UPDATE_DB_PORT");
        return puerto.empty() ? puerto : "/tmp/tarsenvik-test-server-" + puerto;
    }
    return std::string();
}

} // namespace

std::string variable(const char* nombre)
{
    if (const char* valor = std::getenv(nombre))
        return valor;
    const std::string deducido = valorDeCompilacion(nombre);
    if (deducido.empty())
        ADD_FAILURE() << nombre << " is not set: run the tests through ctest";
    return deducido;
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

namespace {

// Stops the X server this process started itself, when the process ends.
std::string ordenParadaPantalla;

void pararPantallaPropia()
{
    if (!ordenParadaPantalla.empty())
        ejecutar(ordenParadaPantalla);
}

} // namespace

bool asegurarPantalla()
{
    const char* pantalla = std::getenv("DISPLAY");
    if (pantalla == nullptr || *pantalla == '\0') {
        ADD_FAILURE() << "DISPLAY is not set: run the tests through ctest";
        return false;
    }
    if (ejecutar("timeout 10 xdpyinfo >/dev/null 2>&1") == 0)
        return true;
    const std::string guion = carpetaFuentes() + "/tests/support/xvfb";
    if (ejecutar(guion + " start '" + pantalla + "' >/dev/null") != 0) {
        ADD_FAILURE() << "cannot start Xvfb on " << pantalla;
        return false;
    }
    if (ordenParadaPantalla.empty()) {
        ordenParadaPantalla = guion + " stop '" + pantalla + "' >/dev/null 2>&1";
        std::atexit(pararPantallaPropia);
    }
    return true;
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
