#include "support/LauncherEnPruebas.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>

// Xlib's macros (None, Bool, Status) clash with other headers: it comes last.
#include <X11/Xlib.h>

namespace fs = std::filesystem;
using namespace EntornoPruebas;

LauncherEnPruebas::LauncherEnPruebas(bool conAplicacion, const std::string& ejecutable)
    : proceso(-1), estado(-1)
{
    // Without an X server the launcher could offer nothing at all.
    asegurarPantalla();
    const std::string compilacion = carpetaCompilacion();
    fs::create_directories(carpeta / "bin");
    fs::create_directories(configuracion());
    // A copy, not a link: the launcher finds its installation from its own path.
    fs::copy_file(compilacion + "/bin/" + ejecutable, binario());
    fs::copy(compilacion + "/src", carpeta / "src", fs::copy_options::recursive);
    if (conAplicacion)
        fs::copy_file(compilacion + "/tests/tarsenvik-recorder", carpeta / "bin/tarsenvik.exe");
}

LauncherEnPruebas::~LauncherEnPruebas()
{
    if (proceso > 0) {
        kill(proceso, SIGKILL);
        waitpid(proceso, nullptr, 0);
    }
}

std::string LauncherEnPruebas::instalacion() const { return carpeta.ruta(); }
std::string LauncherEnPruebas::binario() const { return carpeta / "bin/tarsenvik-launcher"; }
std::string LauncherEnPruebas::configuracion() const { return carpeta / "config"; }
std::string LauncherEnPruebas::carpetaAjustes() const { return configuracion() + "/tarsenviklauncher"; }
std::string LauncherEnPruebas::carpetaCache() const { return configuracion() + "/datosTarsenvik"; }
std::string LauncherEnPruebas::ficheroAjustes() const { return carpetaAjustes() + "/datosVersion1.dat"; }

void LauncherEnPruebas::escribirAjustes(int version, const std::string& direccion)
{
    std::string imagen(156, '\0');
    const auto numero = static_cast<uint32_t>(version);
    for (int b = 0; b < 4; ++b)
        imagen[b] = static_cast<char>((numero >> (8 * b)) & 0xff);
    imagen.replace(4, direccion.size(), direccion);
    fs::create_directories(carpetaAjustes());
    escribirFichero(ficheroAjustes(), imagen);
}

int LauncherEnPruebas::versionAjustes() const
{
    const std::string imagen = leerFichero(ficheroAjustes());
    if (imagen.size() < 4)
        return -1;
    uint32_t numero = 0;
    for (int b = 0; b < 4; ++b)
        numero |= static_cast<uint32_t>(static_cast<unsigned char>(imagen[b])) << (8 * b);
    return static_cast<int>(numero);
}

void LauncherEnPruebas::arrancar(const std::vector<std::string>& argumentos)
{
    const std::string ruta = binario();
    const std::string registro = carpeta / "arranques.txt";
    const std::string salidaRuta = carpeta / "stdout.txt";
    const std::string erroresRuta = carpeta / "stderr.txt";
    proceso = fork();
    ASSERT_GE(proceso, 0);
    if (proceso == 0) {
        setenv("XDG_CONFIG_HOME", configuracion().c_str(), 1);
        setenv("TARSENVIK_RECORD", registro.c_str(), 1);
        // The application is found beside the launcher or on PATH: keep PATH free of it.
        setenv("PATH", "/usr/bin:/bin", 1);
        setenv("NO_AT_BRIDGE", "1", 1);
        const int out = open(salidaRuta.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(erroresRuta.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<std::string> todos{ruta};
        todos.insert(todos.end(), argumentos.begin(), argumentos.end());
        std::vector<char*> argv;
        for (std::string& a : todos)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execv(ruta.c_str(), argv.data());
        _exit(127);
    }
}

bool LauncherEnPruebas::esperarFin(std::chrono::milliseconds limite)
{
    if (proceso <= 0)
        return true;
    int estadoBruto = 0;
    const bool terminado = esperar(
        [&] { return waitpid(proceso, &estadoBruto, WNOHANG) == proceso; }, limite);
    if (!terminado) {
        kill(proceso, SIGKILL);
        waitpid(proceso, nullptr, 0);
        proceso = -1;
        return false;
    }
    proceso = -1;
    estado = WIFEXITED(estadoBruto) ? WEXITSTATUS(estadoBruto) : 128 + WTERMSIG(estadoBruto);
    return true;
}

bool LauncherEnPruebas::enMarcha()
{
    if (proceso <= 0)
        return false;
    int estadoBruto = 0;
    if (waitpid(proceso, &estadoBruto, WNOHANG) != proceso)
        return true;
    proceso = -1;
    estado = WIFEXITED(estadoBruto) ? WEXITSTATUS(estadoBruto) : 128 + WTERMSIG(estadoBruto);
    return false;
}

std::string LauncherEnPruebas::salida() const { return leerFichero(carpeta / "stdout.txt"); }
std::string LauncherEnPruebas::errores() const { return leerFichero(carpeta / "stderr.txt"); }

unsigned long LauncherEnPruebas::esperarVentana(const std::string& titulo,
                                                std::chrono::milliseconds limite)
{
    const std::string orden = "timeout " + std::to_string(limite.count() / 1000.0)
                              + " xdotool search --sync --onlyvisible --name '^" + titulo
                              + "$' 2>/dev/null | head -n 1";
    FILE* tuberia = popen(orden.c_str(), "r");
    if (tuberia == nullptr)
        return 0;
    char linea[64] = {};
    const bool leida = std::fgets(linea, sizeof linea, tuberia) != nullptr;
    pclose(tuberia);
    return leida ? std::strtoul(linea, nullptr, 10) : 0;
}

bool LauncherEnPruebas::hayVentana(const std::string& titulo)
{
    return ejecutar("timeout 5 xdotool search --onlyvisible --name '^" + titulo
                    + "$' >/dev/null 2>&1")
           == 0;
}

void LauncherEnPruebas::pulsar(unsigned long ventana, const std::string& teclas)
{
    ASSERT_NE(ventana, 0ul);
    const std::string id = std::to_string(ventana);
    std::string mensajes;
    const int resultado =
        ejecutarCapturando("timeout 10 xdotool key --window " + id + " " + teclas + " 2>&1",
                           mensajes);
    // A key that ends the launcher destroys its window while the key is still
    // down; xdotool then fails on the release, after the press has arrived.
    if (resultado != 0 && ejecutar("xdotool getwindowname " + id + " >/dev/null 2>&1") == 0)
        ADD_FAILURE() << "xdotool key " << teclas << " failed (" << resultado << "): " << mensajes;
}

void LauncherEnPruebas::cerrarDesdeTitulo(unsigned long ventana)
{
    ASSERT_NE(ventana, 0ul);
    Display* pantalla = XOpenDisplay(nullptr);
    ASSERT_NE(pantalla, nullptr);
    XEvent evento;
    std::memset(&evento, 0, sizeof evento);
    evento.xclient.type = ClientMessage;
    evento.xclient.window = ventana;
    evento.xclient.message_type = XInternAtom(pantalla, "WM_PROTOCOLS", False);
    evento.xclient.format = 32;
    evento.xclient.data.l[0] = static_cast<long>(XInternAtom(pantalla, "WM_DELETE_WINDOW", False));
    evento.xclient.data.l[1] = CurrentTime;
    XSendEvent(pantalla, ventana, False, NoEventMask, &evento);
    XFlush(pantalla);
    XCloseDisplay(pantalla);
}

std::vector<std::vector<std::string>> LauncherEnPruebas::arranquesAplicacion() const
{
    std::vector<std::vector<std::string>> arranques;
    std::istringstream registro(leerFichero(carpeta / "arranques.txt"));
    std::vector<std::string> actual;
    for (std::string linea; std::getline(registro, linea);) {
        if (linea == "--end--") {
            arranques.push_back(actual);
            actual.clear();
        } else {
            actual.push_back(linea);
        }
    }
    return arranques;
}
