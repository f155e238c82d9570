#pragma once

#include <chrono>
#include <string>
#include <vector>

/// Small helpers of the test suite: the environment the test runner sets,
/// scratch folders and whole-file reads and writes.
namespace EntornoPruebas {

/// A variable that the test runner sets; fails the test when missing.
std::string variable(const char* nombre);
int puertoBaseDatos();
int puertoHttp();
std::string carpetaServidor();
std::string carpetaFuentes();
std::string carpetaCompilacion();

std::string leerFichero(const std::string& ruta);
void escribirFichero(const std::string& ruta, const std::string& contenido);
bool existe(const std::string& ruta);
/// Every regular file below `carpeta`, as paths relative to it, sorted.
std::vector<std::string> listarFicheros(const std::string& carpeta);
/// Relative path to content of every regular file below `carpeta`.
std::vector<std::pair<std::string, std::string>> instantanea(const std::string& carpeta);

/// Makes sure the X server of DISPLAY answers. The test runner starts it for
/// the tests that declare they need it; for any other, this process starts it
/// and stops it again when it ends. False (and a failure) when it cannot.
bool asegurarPantalla();

/// Runs a shell command; its exit status.
int ejecutar(const std::string& orden);
/// Runs a shell command and keeps what it writes on standard output; its exit status.
int ejecutarCapturando(const std::string& orden, std::string& salida);

void dormirMs(int ms);

/// Waits until `condicion` holds or `limite` has passed; true when it held.
template <typename Condicion>
bool esperar(Condicion condicion, std::chrono::milliseconds limite)
{
    const auto fin = std::chrono::steady_clock::now() + limite;
    while (!condicion()) {
        if (std::chrono::steady_clock::now() >= fin)
            return false;
        dormirMs(20);
    }
    return true;
}
/// A scratch folder removed with everything in it when the object goes.
class CarpetaTemporal {
public:
    CarpetaTemporal();
    ~CarpetaTemporal();
    CarpetaTemporal(const CarpetaTemporal&) = delete;
    CarpetaTemporal& operator=(const CarpetaTemporal&) = delete;
    const std::string& ruta() const { return camino; }
    std::string operator/(const std::string& nombre) const { return camino + "/" + nombre; }

private:
    std::string camino;
};

/// Sets an environment variable for the life of the object.
class VariableTemporal {
public:
    VariableTemporal(const char* nombre, const std::string& valor);
    ~VariableTemporal();
    VariableTemporal(const VariableTemporal&) = delete;
    VariableTemporal& operator=(const VariableTemporal&) = delete;

private:
    std::string nombre;
    bool habia;
    std::string anterior;
};

} // namespace EntornoPruebas
