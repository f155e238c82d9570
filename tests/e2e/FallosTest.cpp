// The fault campaign: the real launcher binary in a scratch installation under
// Xvfb, against a release database, an HTTP server, a machine or a user that
// misbehaves in one way per row. Whatever the fault, the application starts,
// the installation is either as it was or wholly at the new release, the
// settings file holds the old number unless the install completed, and the
// launcher writes nothing outside its two configuration folders and the
// installation (its HOME and TMPDIR are scratch folders that must stay empty).
#include "release/ConexionBD.h"
#include "support/EntornoPruebas.h"
#include "support/LauncherEnPruebas.h"
#include "support/ServidorDefectuoso.h"
#include "support/ServidorPruebas.h"
#include "transfer/DescargaActualizacion.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mysql++.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace EntornoPruebas;
using namespace std::chrono_literals;
using Respuesta = ServidorDefectuoso::Respuesta;
using Final = ServidorDefectuoso::Final;
using Reloj = std::chrono::steady_clock;

namespace {

const char* const tituloVentana = "Tarsenvik Updater";
const char* const tituloError = "Update error";
const char* const nombreXml = "XmlInstalacion.xml";
const char* const errorBD = "Failed to get item list: ";
const char* const errorDescarga = "Error while downloading";
const int versionInstalada = 305100;
const int versionNueva = 4300001;
const std::vector<std::string> argumentos = {"uno", "dos tres"};
// Files of the test harness inside the scratch installation.
const char* const ficherosArnes[] = {"arranques.txt", "stdout.txt", "stderr.txt"};

using Arbol = std::map<std::string, std::string>;  // relative path to what is there

double segundosDesde(Reloj::time_point inicio)
{
    return std::chrono::duration<double>(Reloj::now() - inicio).count();
}

std::string comillas(const std::string& texto)
{
    std::string resultado = "'";
    for (char c : texto)
        resultado += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return resultado + "'";
}

// A file's content as the snapshots keep it: size and hash, so that a
// difference in the launcher's own binary does not print megabytes.
std::string huella(const std::string& datos)
{
    char hash[32];
    std::snprintf(hash, sizeof hash, "%zx", std::hash<std::string>()(datos));
    return "file:" + std::to_string(datos.size()) + ":" + hash;
}

// The entries in which two snapshots differ, for the failure message.
std::string diferencias(const std::map<std::string, std::string>& a,
                        const std::map<std::string, std::string>& b)
{
    std::string texto;
    for (const auto& [ruta, contenido] : a) {
        const auto otro = b.find(ruta);
        if (otro == b.end())
            texto += "  gone: " + ruta + "\n";
        else if (otro->second != contenido)
            texto += "  changed: " + ruta + " (" + contenido + " -> " + otro->second + ")\n";
    }
    for (const auto& [ruta, contenido] : b) {
        if (a.count(ruta) == 0)
            texto += "  new: " + ruta + " (" + contenido + ")\n";
    }
    return texto;
}

// Every entry below `carpeta`, folders and links included, so that an empty
// folder or a link left behind shows too.
Arbol arbol(const std::string& carpeta)
{
    Arbol contenido;
    std::error_code error;
    if (!fs::is_directory(carpeta, error))
        return contenido;
    for (auto it = fs::recursive_directory_iterator(carpeta, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const std::string relativa = fs::relative(it->path(), carpeta).string();
        const fs::file_status estado = it->symlink_status();
        if (fs::is_symlink(estado))
            contenido[relativa] = "link:" + fs::read_symlink(it->path(), error).string();
        else if (fs::is_directory(estado))
            contenido[relativa] = "folder";
        else if (fs::is_regular_file(estado))
            contenido[relativa] = huella(leerFichero(it->path().string()));
        else
            contenido[relativa] = "other";
    }
    return contenido;
}

// The installation as the launcher could change it: all but its configuration
// folder and the files of the harness.
Arbol instalacion(const LauncherEnPruebas& launcher)
{
    Arbol contenido = arbol(launcher.instalacion());
    for (auto it = contenido.begin(); it != contenido.end();) {
        bool fuera = it->first == "config" || it->first.rfind("config/", 0) == 0;
        for (const char* arnes : ficherosArnes)
            fuera = fuera || it->first == arnes;
        it = fuera ? contenido.erase(it) : std::next(it);
    }
    return contenido;
}

// The settings file as it stands: its bytes, or what a folder in its place holds.
std::string estadoAjustes(const LauncherEnPruebas& launcher)
{
    const std::string ruta = launcher.ficheroAjustes();
    std::error_code error;
    if (fs::is_directory(ruta, error)) {
        std::string descripcion = "folder:";
        for (const auto& [relativa, contenido] : arbol(ruta))
            descripcion += relativa + "=" + contenido + ";";
        return descripcion;
    }
    if (!existe(ruta))
        return "absent";
    return "file:" + leerFichero(ruta);
}

// Settings compared without printing a megabyte of them.
::testing::AssertionResult mismosAjustes(const std::string& vistos, const std::string& esperados)
{
    if (vistos == esperados)
        return ::testing::AssertionSuccess();
    size_t i = 0;
    while (i < vistos.size() && i < esperados.size() && vistos[i] == esperados[i])
        ++i;
    return ::testing::AssertionFailure()
           << "settings of " << vistos.size() << " bytes, expected " << esperados.size()
           << ", first difference at " << i << " (state " << vistos.substr(0, 12) << "... vs "
           << esperados.substr(0, 12) << "...)";
}

std::string numeroLE(int numero)
{
    std::string bytes(4, '\0');
    for (int b = 0; b < 4; ++b)
        bytes[b] = static_cast<char>((static_cast<uint32_t>(numero) >> (8 * b)) & 0xff);
    return bytes;
}

int puertoLibre()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in direccion{};
    direccion.sin_family = AF_INET;
    direccion.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t largo = sizeof direccion;
    int puerto = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&direccion), sizeof direccion) == 0
        && getsockname(s, reinterpret_cast<sockaddr*>(&direccion), &largo) == 0)
        puerto = ntohs(direccion.sin_port);
    close(s);
    return puerto;
}

bool escribirTodo(int fd, const char* datos, std::size_t cantidad)
{
    while (cantidad > 0) {
        const ssize_t escritos = send(fd, datos, cantidad, MSG_NOSIGNAL);
        if (escritos < 0 && errno == EINTR)
            continue;
        if (escritos <= 0)
            return false;
        datos += escritos;
        cantidad -= static_cast<std::size_t>(escritos);
    }
    return true;
}

// A TCP listener on the launcher's database port. Without a destination it
// accepts and never says a word; with one it forwards every connection to
// 127.0.0.1:destino and, once `corte` bytes have gone from the server to the
// client, cuts both ends or, with `estancar`, keeps them open and silent.
class EscuchaTcp {
public:
    EscuchaTcp(int puerto, int destino = 0, std::size_t corte = 0, bool estancar = false)
        : destino(destino), corte(corte), estancar(estancar)
    {
        escucha = socket(AF_INET, SOCK_STREAM, 0);
        const int si = 1;
        setsockopt(escucha, SOL_SOCKET, SO_REUSEADDR, &si, sizeof si);
        sockaddr_in direccion{};
        direccion.sin_family = AF_INET;
        direccion.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        direccion.sin_port = htons(static_cast<uint16_t>(puerto));
        // The server that held the port may take a moment to let it go.
        const bool atado = esperar(
            [&] {
                return bind(escucha, reinterpret_cast<sockaddr*>(&direccion), sizeof direccion)
                       == 0;
            },
            5s);
        if (!atado || listen(escucha, 16) != 0) {
            close(escucha);
            escucha = -1;
            return;
        }
        hilo = std::thread([this] { bucle(); });
    }

    ~EscuchaTcp()
    {
        parar = true;
        if (hilo.joinable())
            hilo.join();
        if (escucha >= 0)
            close(escucha);
    }

    EscuchaTcp(const EscuchaTcp&) = delete;
    EscuchaTcp& operator=(const EscuchaTcp&) = delete;

    bool escuchando() const { return escucha >= 0; }
    int conexiones() const { return aceptadas; }
    bool cortada() const { return hubCorte; }

private:
    struct Par {
        int cliente;
        int servidor;  // -1: nobody behind the listener
        bool mudo;     // nothing more goes from the server to the client
    };

    void bucle()
    {
        std::vector<Par> pares;
        std::vector<char> bloque(16384);
        while (!parar) {
            std::vector<pollfd> fds{{escucha, POLLIN, 0}};
            for (const Par& p : pares) {
                fds.push_back({p.cliente, POLLIN, 0});
                const bool reenvia = p.servidor >= 0 && !p.mudo;
                fds.push_back({p.servidor, static_cast<short>(reenvia ? POLLIN : 0), 0});
            }
            if (poll(fds.data(), fds.size(), 50) <= 0)
                continue;
            for (std::size_t i = 0; i < pares.size(); ++i) {
                Par& p = pares[i];
                const short deCliente = fds[1 + 2 * i].revents;
                const short deServidor = fds[2 + 2 * i].revents;
                bool cerrar = false;
                if (deCliente & (POLLIN | POLLHUP | POLLERR)) {
                    const ssize_t leidos = recv(p.cliente, bloque.data(), bloque.size(), 0);
                    if (leidos <= 0)
                        cerrar = true;
                    else if (p.servidor >= 0 && !p.mudo
                             && !escribirTodo(p.servidor, bloque.data(),
                                              static_cast<std::size_t>(leidos)))
                        cerrar = true;
                }
                if (!cerrar && p.servidor >= 0 && !p.mudo
                    && (deServidor & (POLLIN | POLLHUP | POLLERR))) {
                    const ssize_t leidos = recv(p.servidor, bloque.data(), bloque.size(), 0);
                    if (leidos <= 0) {
                        cerrar = true;
                    } else {
                        std::size_t enviar = static_cast<std::size_t>(leidos);
                        if (corte > 0 && bytes + enviar >= corte) {
                            enviar = corte - bytes;
                            p.mudo = estancar;
                            cerrar = !estancar;
                            hubCorte = true;
                        }
                        if (!escribirTodo(p.cliente, bloque.data(), enviar))
                            cerrar = true;
                        bytes += enviar;
                    }
                }
                if (cerrar) {
                    close(p.cliente);
                    if (p.servidor >= 0)
                        close(p.servidor);
                    p.cliente = -1;
                }
            }
            pares.erase(std::remove_if(pares.begin(), pares.end(),
                                       [](const Par& p) { return p.cliente < 0; }),
                        pares.end());
            if (fds[0].revents & POLLIN) {
                const int cliente = accept(escucha, nullptr, nullptr);
                if (cliente < 0)
                    continue;
                ++aceptadas;
                int servidor = -1;
                if (destino > 0) {
                    servidor = socket(AF_INET, SOCK_STREAM, 0);
                    sockaddr_in direccion{};
                    direccion.sin_family = AF_INET;
                    direccion.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                    direccion.sin_port = htons(static_cast<uint16_t>(destino));
                    if (connect(servidor, reinterpret_cast<sockaddr*>(&direccion),
                                sizeof direccion)
                        != 0) {
                        close(servidor);
                        close(cliente);
                        continue;
                    }
                }
                pares.push_back({cliente, servidor, false});
            }
        }
        for (const Par& p : pares) {
            close(p.cliente);
            if (p.servidor >= 0)
                close(p.servidor);
        }
    }

    int escucha = -1;
    int destino;
    std::size_t corte;
    bool estancar;
    std::atomic<bool> parar{false};
    std::atomic<int> aceptadas{0};
    std::atomic<std::size_t> bytes{0};
    std::atomic<bool> hubCorte{false};
    std::thread hilo;
};

// Mounts made by one test, undone in reverse order.
class Montajes {
public:
    ~Montajes() { deshacer(); }

    /// A tmpfs of `tamano` over `carpeta`; false where mounting is not permitted.
    bool tmpfs(const std::string& carpeta, const std::string& tamano)
    {
        fs::create_directories(carpeta);
        return montar("mount -t tmpfs -o size=" + tamano + " tmpfs " + comillas(carpeta), carpeta);
    }

    /// `carpeta` read-only (a read-only bind mount: as root chmod stops
    /// nothing), but for `huecos`, paths below it that stay writable through
    /// a writable view of it at `vista`. False where not permitted.
    bool soloLectura(const std::string& carpeta, const std::string& vista,
                     const std::vector<std::string>& huecos)
    {
        fs::create_directories(vista);
        if (!montar("mount --bind " + comillas(carpeta) + " " + comillas(vista), vista)
            || !montar("mount --bind " + comillas(carpeta) + " " + comillas(carpeta), carpeta)
            || ejecutar("mount -o remount,bind,ro " + comillas(carpeta) + " 2>/dev/null") != 0)
            return false;
        for (const std::string& hueco : huecos) {
            const std::string destino = carpeta + "/" + hueco;
            if (!montar("mount --bind " + comillas(vista + "/" + hueco) + " " + comillas(destino),
                        destino))
                return false;
        }
        // Root writes through permissions; only a read-only mount stops it.
        const std::string sonda = carpeta + "/.sonda-solo-lectura";
        const int fd = open(sonda.c_str(), O_WRONLY | O_CREAT, 0644);
        if (fd >= 0) {
            close(fd);
            std::remove(sonda.c_str());
            return false;
        }
        return errno == EROFS;
    }

    void deshacer()
    {
        for (auto it = puntos.rbegin(); it != puntos.rend(); ++it) {
            if (ejecutar("umount " + comillas(*it) + " 2>/dev/null") != 0)
                ejecutar("umount -l " + comillas(*it) + " 2>/dev/null");
        }
        puntos.clear();
    }

private:
    bool montar(const std::string& orden, const std::string& punto)
    {
        if (ejecutar(orden + " 2>/dev/null") != 0)
            return false;
        puntos.push_back(punto);
        return true;
    }

    std::vector<std::string> puntos;
};

// Statements as root on the database of another server instance.
bool sqlEn(const std::string& socket, const std::string& sentencias)
{
    mysqlpp::Connection conexion(false);
    if (!conexion.connect("tarsenvik_update", socket.c_str(), "root", "")) {
        ADD_FAILURE() << "cannot log in as root: " << conexion.error();
        return false;
    }
    mysqlpp::Query consulta = conexion.query(sentencias);
    if (!consulta.exec()) {
        ADD_FAILURE() << "SQL failed: " << consulta.error() << "\n" << sentencias;
        return false;
    }
    return true;
}

std::string ordenServidor(const std::string& accion, const std::string& carpeta)
{
    return carpetaFuentes() + "/server/" + accion + " --dir " + comillas(carpeta);
}

std::string ordenArranqueFijo()
{
    return ordenServidor("start", carpetaServidor()) + " --db-port "
           + std::to_string(puertoBaseDatos()) + " --http-port " + std::to_string(puertoHttp());
}

std::string listaXml(const std::vector<std::pair<std::string, std::string>>& entradas,
                     const std::string& relleno = std::string())
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<instalacion>\n" + relleno;
    for (const auto& [nombre, ruta] : entradas)
        xml += "  <fichero nombre=\"" + nombre + "\" ruta=\"" + ruta + "\"/>\n";
    return xml + "</instalacion>\n";
}

std::string contenidoDePrueba(std::size_t tamano, unsigned semilla)
{
    std::mt19937 generador(semilla);
    std::string texto(tamano, '\0');
    for (char& c : texto)
        c = static_cast<char>(generador() & 0xff);
    return texto;
}

std::string rutaServida(const std::string& nombre)
{
    return "/win32/" + std::to_string(versionNueva) + "/" + nombre;
}

} // namespace

/// What one row of the campaign sets up, and what it leaves for the checks.
struct Contexto {
    LauncherEnPruebas& launcher;
    CarpetaTemporal& trabajo;  // the test's own files: release sources, views, servers
    Montajes montajes;
    std::unique_ptr<ServidorDefectuoso> defectuoso;
    std::unique_ptr<EscuchaTcp> escucha;
    std::string servidorPrivado;     // folder of a second server instance, purged afterwards
    bool restaurarServidor = false;  // the fixture's server was stopped or its account changed
    std::string omitir;              // why this row cannot run here

    // The release by installed path: what a complete install gives.
    Arbol ficheros;
    // The file whose download fails: the cache may keep what came of it.
    std::string fallido;
    std::string fallidoTambien;      // a second file whose download may be the one that fails
    // The row wrote the settings itself.
    bool ajustesPropios = false;
    // estadoAjustes after a complete install, when not the old one with the new number.
    std::optional<std::string> ajustesTrasCompletar;
    // Request path during which the user closes the window.
    std::string rutaLenta;

    Contexto(LauncherEnPruebas& launcher, CarpetaTemporal& trabajo)
        : launcher(launcher), trabajo(trabajo)
    {
    }

    void pararServidor()
    {
        restaurarServidor = true;
        ASSERT_EQ(ejecutar(ordenServidor("stop", carpetaServidor()) + " >/dev/null 2>&1"), 0);
    }

    void anotar(const std::string& nombre, const std::string& ruta, const std::string& datos)
    {
        ficheros[ruta + nombre] = datos;
    }

    // The usual release, published with the update server's own tool: it
    // replaces a file, adds one beside it and one in an existing subfolder.
    void publicarNormal(const std::map<std::string, std::string>& extra = {})
    {
        std::map<std::string, std::string> fuente = {
            {"leeme.txt", "new readme\n"},
            {"tarsenvik.dll", contenidoDePrueba(5000, 1)},
            {"datos/nuevo.dat", std::string(3000, 'n')},
        };
        fuente.insert(extra.begin(), extra.end());
        const std::string origen = trabajo / "release";
        for (const auto& [ruta, datos] : fuente) {
            escribirFichero(origen + "/" + ruta, datos);
            const size_t barra = ruta.rfind('/');
            anotar(barra == std::string::npos ? ruta : ruta.substr(barra + 1),
                   barra == std::string::npos ? "" : ruta.substr(0, barra + 1), datos);
        }
        ASSERT_EQ(ServidorPruebas::publicar(origen, versionNueva, "Notes"), 0);
    }

    struct Servido {
        std::string nombre;
        std::string ruta;
        Respuesta respuesta;
    };

    // A release served by the in-process server, for answers lighttpd never gives.
    void publicarDefectuoso(const std::vector<Servido>& servidos,
                            std::optional<Respuesta> lista = std::nullopt)
    {
        defectuoso = std::make_unique<ServidorDefectuoso>();
        ASSERT_GT(defectuoso->puerto(), 0);
        std::vector<std::pair<std::string, std::string>> entradas;
        for (const Servido& s : servidos) {
            entradas.emplace_back(s.nombre, s.ruta);
            defectuoso->responder(rutaServida(s.nombre), s.respuesta);
            anotar(s.nombre, s.ruta, s.respuesta.cuerpo);
        }
        if (!lista) {
            lista = Respuesta();
            lista->cuerpo = listaXml(entradas);
        }
        defectuoso->responder(rutaServida(nombreXml), *lista);
        ServidorPruebas::insertarVersion(versionNueva, "win32", "Notes", defectuoso->url());
    }
};

namespace {

// A second server instance with a release table of some megabytes, behind a
// proxy on the launcher's port that cuts or stalls part way through the result.
void prepararResultadoInterrumpido(Contexto& c, bool estancar)
{
    c.servidorPrivado = c.trabajo / "srv";
    const int puertoBD = puertoLibre();
    const int puertoWeb = puertoLibre();
    ASSERT_EQ(ejecutar(ordenServidor("start", c.servidorPrivado) + " --db-port "
                       + std::to_string(puertoBD) + " --http-port " + std::to_string(puertoWeb)
                       + " >/dev/null 2>&1"),
              0);
    ASSERT_TRUE(sqlEn(c.servidorPrivado + "/mysqld.sock",
                      "INSERT INTO tarsenvik_version (t_version, t_plataforma, t_descripcion, "
                      "t_path_fichero_xml) SELECT 4300000 + seq, 'win32', REPEAT('notes ', 400), "
                      "'http://127.0.0.1:1' FROM seq_1_to_3000"));
    c.pararServidor();
    c.escucha = std::make_unique<EscuchaTcp>(puertoBaseDatos(), puertoBD, 256 * 1024, estancar);
    ASSERT_TRUE(c.escucha->escuchando());
}

void comprobarInterrupcion(Contexto& c)
{
    EXPECT_NE(c.launcher.errores().find(errorBD), std::string::npos) << c.launcher.errores();
    EXPECT_TRUE(c.escucha->cortada()) << "the result ended before the fault";
}

enum class Usuario { Nada, RecordarMasTarde, Actualizar, ActualizarDosVeces, CerrarDuranteDescarga };
enum class Desenlace { SinVentana, Cerrada, DialogoError, Completada, ErrorOCompletada };

const char* texto(Desenlace d)
{
    switch (d) {
    case Desenlace::SinVentana: return "no window";
    case Desenlace::Cerrada: return "window closed, nothing installed";
    case Desenlace::DialogoError: return "error dialog";
    case Desenlace::Completada: return "completed";
    case Desenlace::ErrorOCompletada: return "error dialog or completed";
    }
    return "?";
}

struct Caso {
    std::string nombre;
    std::function<void(Contexto&)> preparar;
    Usuario usuario;
    Desenlace esperado;
    /// Until the application starts (no window expected) or the window shows.
    std::chrono::milliseconds limiteInicio;
    /// From the update key to the error dialog or the release in place; for a
    /// window closed during the run, from the close to the application's start.
    std::chrono::milliseconds limiteDesenlace = 20s;
    std::function<void(Contexto&)> comprobar = nullptr;
};

// The id of the visible window with this title, or 0.
unsigned long idVentana(const std::string& titulo)
{
    std::string salida;
    ejecutarCapturando("timeout 5 xdotool search --onlyvisible --name '^" + titulo
                           + "$' 2>/dev/null | head -n 1",
                       salida);
    return std::strtoul(salida.c_str(), nullptr, 10);
}

void comprobarErrorBD(Contexto& c)
{
    EXPECT_NE(c.launcher.errores().find(errorBD), std::string::npos) << c.launcher.errores();
}

void comprobarErrorDescarga(Contexto& c)
{
    EXPECT_NE(c.launcher.salida().find(errorDescarga), std::string::npos) << c.launcher.salida();
}

Respuesta respuesta(const std::string& cuerpo)
{
    Respuesta r;
    r.cuerpo = cuerpo;
    return r;
}

Respuesta estado(int codigo)
{
    Respuesta r;
    r.estado = codigo;
    r.cuerpo = "failure " + std::to_string(codigo) + "\n";
    return r;
}

#if defined(__SANITIZE_ADDRESS__)
#define TARSENVIK_SANITIZADO 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARSENVIK_SANITIZADO 1
#endif
#endif

const auto inicioRapido = 5s;
const auto ventanaMaximo = 10s;
#ifdef TARSENVIK_SANITIZADO
// The sanitizers' allocator, unwinding the stack at every allocation, makes
// reading 100,000 rows or a list of 10 MB some forty times slower than in the
// plain build: a longer wait for the one, a shorter list for the other.
const auto ventanaTablaGrande = 4 * ventanaMaximo;
const std::size_t tamanoListaGrande = 1u << 20;
#else
const auto ventanaTablaGrande = ventanaMaximo;
const std::size_t tamanoListaGrande = 10u << 20;
#endif
const auto abandonoLista =
    std::chrono::milliseconds(DescargaActualizacion::limiteXmlMs) + 5s;

// Row names in the test's name and messages, not its bytes.
void PrintTo(const Caso& caso, std::ostream* salida)
{
    *salida << caso.nombre;
}

const std::vector<Caso>& casos()
{
    static const std::vector<Caso> tabla = {
        // --- the release database ---------------------------------------
        {"DatabaseStopped",
         [](Contexto& c) {
             c.publicarNormal();
             c.pararServidor();
         },
         Usuario::Nada, Desenlace::SinVentana, inicioRapido, 20s, comprobarErrorBD},
        {"DatabaseRefusesTheLogin",
         [](Contexto& c) {
             c.publicarNormal();
             c.restaurarServidor = true;  // server/start sets the password again
             std::string sentencias;
             for (const char* host : {"127.0.0.1", "localhost", "%"})
                 sentencias += std::string("ALTER USER 'tarsenvikUpdate'@'") + host
                               + "' IDENTIFIED BY 'otraClave';";
             ASSERT_TRUE(ServidorPruebas::sql(sentencias));
         },
         Usuario::Nada, Desenlace::SinVentana, inicioRapido, 20s, comprobarErrorBD},
        {"DatabaseSilentAfterAccepting",
         [](Contexto& c) {
             c.pararServidor();
             c.escucha = std::make_unique<EscuchaTcp>(puertoBaseDatos());
             ASSERT_TRUE(c.escucha->escuchando());
         },
         Usuario::Nada, Desenlace::SinVentana,
         std::chrono::seconds(ConexionBD::segundosEspera) + 4s, 20s,
         [](Contexto& c) {
             comprobarErrorBD(c);
             EXPECT_GE(c.escucha->conexiones(), 1) << "the launcher never reached the listener";
         }},
        {"DatabaseDropsTheConnectionMidResult",
         [](Contexto& c) { prepararResultadoInterrumpido(c, false); }, Usuario::Nada,
         Desenlace::SinVentana, inicioRapido, 20s, comprobarInterrupcion},
        {"DatabaseStallsMidResult", [](Contexto& c) { prepararResultadoInterrumpido(c, true); },
         Usuario::Nada, Desenlace::SinVentana,
         std::chrono::seconds(ConexionBD::segundosEspera) + 4s, 20s, comprobarInterrupcion},
        {"DatabaseTableOf100000Rows",
         [](Contexto& c) {
             // Odd rows are win32, even ones another platform: the newest
             // win32 release is one below the newest row.
             ASSERT_TRUE(ServidorPruebas::sql(
                 "INSERT INTO tarsenvik_version (t_version, t_plataforma, t_descripcion, "
                 "t_path_fichero_xml) SELECT 400000 + seq, IF(seq % 2 = 1, 'win32', 'linux'), "
                 "CONCAT('Notes of ', 400000 + seq), '"
                 + ServidorPruebas::urlBase() + "' FROM seq_1_to_100000"));
             (void)c;
         },
         Usuario::RecordarMasTarde, Desenlace::Cerrada, ventanaTablaGrande, 20s,
         [](Contexto& c) {
             EXPECT_NE(c.launcher.salida().find(ServidorPruebas::urlBase() + "/win32/499999\n"),
                       std::string::npos)
                 << c.launcher.salida();
         }},

        // --- the HTTP server ----------------------------------------------
        {"HttpServerStopped",
         [](Contexto& c) {
             ServidorPruebas::insertarVersion(versionNueva, "win32", "Notes",
                                              "http://127.0.0.1:" + std::to_string(puertoLibre()));
             (void)c;
         },
         Usuario::Actualizar, Desenlace::DialogoError, ventanaMaximo},
        {"FileListAnswers500",
         [](Contexto& c) {
             c.publicarDefectuoso({{"leeme.txt", "", respuesta("new readme\n")}}, estado(500));
         },
         Usuario::Actualizar, Desenlace::DialogoError, ventanaMaximo},
        {"FileListNeverAnswers",
         [](Contexto& c) {
             Respuesta muda;
             muda.sinRespuesta = true;
             c.publicarDefectuoso({{"leeme.txt", "", respuesta("new readme\n")}}, muda);
         },
         Usuario::Actualizar, Desenlace::DialogoError, ventanaMaximo, abandonoLista},
        {"FileListOf10MBTrickling",
         [](Contexto& c) {
             Respuesta lenta;
             lenta.cuerpo = listaXml({{"leeme.txt", ""}}, std::string(10 << 20, ' '));
             lenta.trozo = 64 * 1024;
             lenta.pausa = 50ms;  // some 8 s in all
             c.publicarDefectuoso({{"leeme.txt", "", respuesta("new readme\n")}}, lenta);
         },
         Usuario::Actualizar, Desenlace::DialogoError, ventanaMaximo, abandonoLista},
        {"FileListOf10MB",
         [](Contexto& c) {
             // Served by the real server at full speed: it either arrives within
             // the list's time limit and is read, or is given up.
             std::string relleno;
             while (relleno.size() < (10u << 20))
                 relleno += "  <!-- " + std::string(1000, 'p') + " -->\n";
             const std::string carpeta =
                 ServidorPruebas::carpetaWww() + "/win32/" + std::to_string(versionNueva);
             escribirFichero(carpeta + "/" + nombreXml,
                             listaXml({{"leeme.txt", ""}, {"nuevo.dat", "datos/"}}, relleno));
             escribirFichero(carpeta + "/leeme.txt", "new readme\n");
             escribirFichero(carpeta + "/nuevo.dat", "new data");
             c.anotar("leeme.txt", "", "new readme\n");
             c.anotar("nuevo.dat", "datos/", "new data");
             ServidorPruebas::insertarVersion(versionNueva, "win32", "Notes",
                                              ServidorPruebas::urlBase());
         },
         Usuario::Actualizar, Desenlace::ErrorOCompletada, ventanaMaximo},
        {"LastFileAnswers500",
         [](Contexto& c) {
             c.publicarDefectuoso({{"leeme.txt", "", respuesta("new readme\n")},
                                   {"tarsenvik.dll", "", respuesta(contenidoDePrueba(5000, 2))},
                                   {"ultimo.dat", "datos/", estado(500)}});
             c.fallido = "ultimo.dat";
         },
         Usuario::Actualizar, Desenlace::DialogoError, ventanaMaximo, 20s,
         comprobarErrorDescarga},
        {"ConnectionDroppedMidFile",
         [](Contexto& c) {
             Respuesta cortada = respuesta(contenidoDePrueba(50000, 3));
             cortada.anunciada = 200000;
             cortada.trozo = 10000;
             cortada.final = Final::Corte;
             c.publicarDefectuoso({{"leeme.txt", "", respuesta("new readme\n")},
                                   {"tarsenvik.dll", "", cortada}});
             c.fallido = "tarsenvik.dll";
         },
         Usuario::Actualizar, Desenlace::DialogoError, ventanaMaximo, 20s,
         comprobarErrorDescarga},
        {"ReleaseFileStalls",
         [](Contexto& c) {
             c.omitir = "the real binary abandons a silent release file only after "
                        + std::to_string(DescargaActualizacion::inactividadPorDefecto)
                        + " s (DescargaActualizacion::inactividadPorDefecto; "
                          "setLimiteInactividad has no run-time hook in the binary): "
                          "the stall is covered by the transfer tests";
         },
         Usuario::Actualizar, Desenlace::DialogoError, ventanaMaximo},
        {"BodyFarLargerThanAnnounced",
         [](Contexto& c) {
             Respuesta grande = respuesta(contenidoDePrueba(1 << 20, 4));
             grande.anunciada = 1000;
             // Another file after it: the excess must not be taken for the next
             // answer on a connection kept open.
             c.publicarDefectuoso({{"tarsenvik.dll", "", grande},
                                   {"leeme.txt", "", respuesta("new readme\n")}});
             // Only the announced bytes are the file.
             c.ficheros["tarsenvik.dll"] = grande.cuerpo.substr(0, 1000);
             c.fallido = "tarsenvik.dll";
             // On the connection kept open, the excess may spoil the next answer instead.
             c.fallidoTambien = "leeme.txt";
         },
         Usuario::Actualizar, Desenlace::ErrorOCompletada, ventanaMaximo},

        // --- the machine ----------------------------------------------------
        {"CacheOnAFullFileSystem",
         [](Contexto& c) {
             c.publicarNormal({{"grande.bin", contenidoDePrueba(200 * 1024, 5)}});
             c.fallido = "grande.bin";
             if (!c.montajes.tmpfs(c.launcher.carpetaCache(), "64k"))
                 c.omitir = "mounting a tmpfs is not permitted here";
         },
         Usuario::Actualizar, Desenlace::DialogoError, ventanaMaximo, 20s,
         comprobarErrorDescarga},
        {"InstallationSubfolderOnAFullFileSystem",
         [](Contexto& c) {
             // The files bound elsewhere are ready first: they must be taken back.
             c.publicarNormal({{"datos/grande.bin", contenidoDePrueba(200 * 1024, 10)}});
             const std::string datos = c.launcher.instalacion() + "/datos";
             if (!c.montajes.tmpfs(datos, "64k")) {
                 c.omitir = "mounting a tmpfs is not permitted here";
                 return;
             }
             escribirFichero(datos + "/viejo.dat", "old data");
         },
         Usuario::Actualizar, Desenlace::DialogoError, ventanaMaximo},
        {"ReadOnlyInstallationSubfolder",
         [](Contexto& c) {
             c.publicarNormal();
             if (!c.montajes.soloLectura(c.launcher.instalacion() + "/datos",
                                         c.trabajo / "vista", {}))
                 c.omitir = "read-only bind mounts are not permitted here";
         },
         Usuario::Actualizar, Desenlace::DialogoError, ventanaMaximo},
        {"ReadOnlyInstallation",
         [](Contexto& c) {
             c.publicarNormal();
             // The launcher's configuration and the harness's files stay writable.
             std::vector<std::string> huecos{"config"};
             for (const char* arnes : ficherosArnes) {
                 escribirFichero(c.launcher.instalacion() + "/" + arnes, "");
                 huecos.push_back(arnes);
             }
             if (!c.montajes.soloLectura(c.launcher.instalacion(), c.trabajo / "vista", huecos))
                 c.omitir = "read-only bind mounts are not permitted here";
         },
         Usuario::Actualizar, Desenlace::DialogoError, ventanaMaximo},
        {"ReadOnlyConfiguration",
         [](Contexto& c) {
             c.publicarNormal();
             c.launcher.escribirAjustes(versionInstalada);
             fs::create_directories(c.launcher.carpetaCache());
             c.ajustesPropios = true;
             if (!c.montajes.soloLectura(c.launcher.configuracion(), c.trabajo / "vista", {}))
                 c.omitir = "read-only bind mounts are not permitted here";
         },
         Usuario::Actualizar, Desenlace::DialogoError, ventanaMaximo},
        {"ReadOnlyConfigurationAtFirstStart",
         [](Contexto& c) {
             c.publicarNormal();
             c.ajustesPropios = true;  // none: neither folder can be made
             if (!c.montajes.soloLectura(c.launcher.configuracion(), c.trabajo / "vista", {}))
                 c.omitir = "read-only bind mounts are not permitted here";
         },
         Usuario::Actualizar, Desenlace::DialogoError, ventanaMaximo, 20s,
         [](Contexto& c) {
             EXPECT_NE(c.launcher.salida().find("Error while creating the folder"),
                       std::string::npos)
                 << c.launcher.salida();
         }},
        {"SettingsFileIsAFolder",
         [](Contexto& c) {
             c.publicarNormal();
             escribirFichero(c.launcher.ficheroAjustes() + "/dentro.txt", "kept");
             c.ajustesPropios = true;
             // Nothing can be stored there: it stays as it is.
             c.ajustesTrasCompletar = estadoAjustes(c.launcher);
         },
         Usuario::Actualizar, Desenlace::Completada, ventanaMaximo},
        {"SettingsFileOf1MBOfRandomBytes",
         [](Contexto& c) {
             c.publicarNormal();
             std::string basura = contenidoDePrueba(1 << 20, 6);
             basura[3] = static_cast<char>(basura[3] | 0x80);  // a negative number: the floor
             escribirFichero(c.launcher.ficheroAjustes(), basura);
             c.ajustesPropios = true;
             // The new number, then the address field as read: 152 bytes, the last a NUL.
             c.ajustesTrasCompletar =
                 "file:" + numeroLE(versionNueva) + basura.substr(4, 151) + std::string(1, '\0');
         },
         Usuario::Actualizar, Desenlace::Completada, ventanaMaximo},

        // --- the user ---------------------------------------------------------
        // Closing the window gives the update up at the next file: the
        // application starts without waiting for the rest of the release.
        {"WindowClosedDuringTheDownloads",
         [](Contexto& c) {
             Respuesta lenta = respuesta(contenidoDePrueba(40000, 7));
             lenta.trozo = 2000;
             lenta.pausa = 100ms;  // some 2 s
             c.publicarDefectuoso({{"leeme.txt", "", respuesta("new readme\n")},
                                   {"lento.bin", "datos/", lenta},
                                   {"tarsenvik.dll", "", respuesta(contenidoDePrueba(5000, 8))}});
             c.rutaLenta = rutaServida("lento.bin");
         },
         Usuario::CerrarDuranteDescarga, Desenlace::Cerrada, ventanaMaximo, 5s,
         [](Contexto& c) {
             const auto rutas = c.defectuoso->rutasPedidas();
             EXPECT_EQ(std::count(rutas.begin(), rutas.end(), rutaServida("tarsenvik.dll")), 0)
                 << "the run went on after the window was closed";
         }},
        {"WindowClosedThenADownloadFails",
         [](Contexto& c) {
             Respuesta lenta = respuesta(contenidoDePrueba(40000, 11));
             lenta.trozo = 2000;
             lenta.pausa = 50ms;
             lenta.anunciada = 80000;
             lenta.final = Final::Corte;
             c.publicarDefectuoso({{"leeme.txt", "", respuesta("new readme\n")},
                                   {"lento.bin", "datos/", lenta}});
             c.rutaLenta = rutaServida("lento.bin");
             c.fallido = "lento.bin";
         },
         // The user asked for no more: no error dialog comes back.
         Usuario::CerrarDuranteDescarga, Desenlace::Cerrada, ventanaMaximo, 5s},
        {"WindowClosedDuringAHugeFileList",
         [](Contexto& c) {
             // 10 MB, some 190,000 entries: the better part of an hour of transfers.
             std::vector<std::pair<std::string, std::string>> entradas;
             for (std::size_t i = 0, tamano = 0; tamano < tamanoListaGrande; ++i) {
                 entradas.emplace_back("uno.dat", "datos/copia" + std::to_string(i) + "/");
                 tamano += 38 + entradas.back().second.size();
             }
             Respuesta lista = respuesta(listaXml(entradas));
             c.publicarDefectuoso({{"uno.dat", "", respuesta("one")}}, lista);
             c.ficheros.clear();
             c.rutaLenta = rutaServida("uno.dat");
             c.fallido = "uno.dat";
         },
         Usuario::CerrarDuranteDescarga, Desenlace::Cerrada, ventanaMaximo, 5s},
        {"WindowClosedDuringAnEndlessFile",
         [](Contexto& c) {
             // Data keeps coming, so no inactivity limit ends it: some 60 s.
             Respuesta sinFin = respuesta(contenidoDePrueba(6000, 12));
             sinFin.trozo = 20;
             sinFin.pausa = 200ms;
             c.publicarDefectuoso({{"leeme.txt", "", respuesta("new readme\n")},
                                   {"sinfin.bin", "datos/", sinFin}});
             c.rutaLenta = rutaServida("sinfin.bin");
             c.fallido = "sinfin.bin";
         },
         Usuario::CerrarDuranteDescarga, Desenlace::Cerrada, ventanaMaximo, 5s},
        {"UpdatePressedTwice",
         [](Contexto& c) {
             Respuesta lenta = respuesta(contenidoDePrueba(20000, 9));
             lenta.trozo = 2000;
             lenta.pausa = 50ms;
             c.publicarDefectuoso({{"leeme.txt", "", respuesta("new readme\n")},
                                   {"lento.bin", "datos/", lenta}});
         },
         Usuario::ActualizarDosVeces, Desenlace::Completada, ventanaMaximo, 20s,
         [](Contexto& c) {
             std::map<std::string, int> veces;
             for (const std::string& ruta : c.defectuoso->rutasPedidas())
                 ++veces[ruta];
             EXPECT_EQ(veces, (std::map<std::string, int>{{rutaServida(nombreXml), 1},
                                                          {rutaServida("leeme.txt"), 1},
                                                          {rutaServida("lento.bin"), 1}}));
         }},
    };
    return tabla;
}

} // namespace

class FallosTest : public ::testing::TestWithParam<Caso> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ServidorPruebas::asegurarServidor());
        limpiarServidor();
        fs::create_directories(raiz / "home");
        fs::create_directories(raiz / "tmp");
        launcher = std::make_unique<LauncherEnPruebas>();
        escribirFichero(launcher->instalacion() + "/leeme.txt", "old readme\n");
        escribirFichero(launcher->instalacion() + "/datos/viejo.dat", "old data");
        contexto = std::make_unique<Contexto>(*launcher, trabajo);
    }

    void TearDown() override
    {
        if (launcher && launcher->enMarcha())
            launcher->esperarFin(0ms);
        if (contexto) {
            contexto->montajes.deshacer();
            contexto->escucha.reset();
            contexto->defectuoso.reset();
            if (!contexto->servidorPrivado.empty())
                ejecutar(ordenServidor("stop", contexto->servidorPrivado)
                         + " --purge >/dev/null 2>&1");
            // Later tests need the fixture's server as it was.
            if (contexto->restaurarServidor) {
                EXPECT_EQ(ejecutar(ordenArranqueFijo() + " >/dev/null 2>&1"), 0);
            }
        }
        limpiarServidor();
    }

    static void limpiarServidor()
    {
        ServidorPruebas::vaciarVersiones();
        std::error_code error;
        fs::remove_all(ServidorPruebas::carpetaWww() + "/win32/" + std::to_string(versionNueva),
                       error);
    }

    struct Observado {
        bool ventana = false;
        bool dialogoError = false;
        bool termino = false;
        double inicio = -1;     // seconds to the window, or to the application without one
        // Seconds from the update key to the dialog or the new release; after a
        // close from the title bar, from the close to the launcher's end.
        double desenlace = -1;
        bool ocultaTrasCierre = false;  // the close from the title bar hid the window
    };

    // The release's files all in place.
    bool releaseInstalada() const
    {
        if (contexto->ficheros.empty())
            return false;
        for (const auto& [ruta, datos] : contexto->ficheros) {
            const std::string fichero = launcher->instalacion() + "/" + ruta;
            if (!existe(fichero) || leerFichero(fichero) != datos)
                return false;
        }
        return true;
    }

    // Starts the launcher and plays the user's part to the end.
    Observado recorrer(const Caso& caso)
    {
        Observado o;
        {
            VariableTemporal home("HOME", raiz / "home");
            VariableTemporal tmp("TMPDIR", raiz / "tmp");
            launcher->arrancar(argumentos);
        }
        const auto inicio = Reloj::now();
        unsigned long ventana = 0;
        esperar(
            [&] {
                if (!launcher->arranquesAplicacion().empty() || !launcher->enMarcha())
                    return true;
                ventana = idVentana(tituloVentana);
                return ventana != 0;
            },
            caso.limiteInicio + 15s);
        o.inicio = segundosDesde(inicio);
        o.ventana = ventana != 0;
        if (!o.ventana) {
            o.termino = launcher->esperarFin(15s);
            return o;
        }

        const auto tecla = Reloj::now();
        switch (caso.usuario) {
        case Usuario::Nada:
        case Usuario::RecordarMasTarde:
            LauncherEnPruebas::pulsar(ventana, "alt+l");
            o.termino = launcher->esperarFin(15s);
            return o;
        case Usuario::Actualizar:
        case Usuario::CerrarDuranteDescarga:
            LauncherEnPruebas::pulsar(ventana, "alt+u");
            break;
        case Usuario::ActualizarDosVeces:
            LauncherEnPruebas::pulsar(ventana, "alt+u alt+u");
            break;
        }
        if (caso.usuario == Usuario::CerrarDuranteDescarga) {
            const bool pedida = esperar(
                [&] {
                    const auto rutas = contexto->defectuoso->rutasPedidas();
                    return std::find(rutas.begin(), rutas.end(), contexto->rutaLenta)
                           != rutas.end();
                },
                15s);
            EXPECT_TRUE(pedida) << "the slow file was never asked for";
            LauncherEnPruebas::cerrarDesdeTitulo(ventana);
            const auto cierre = Reloj::now();
            o.ocultaTrasCierre = esperar([&] { return idVentana(tituloVentana) != ventana; }, 3s);
            esperar(
                [&] {
                    if (idVentana(tituloError) != 0) {
                        o.dialogoError = true;
                        return true;
                    }
                    return !launcher->enMarcha();
                },
                caso.limiteDesenlace + 15s);
            o.desenlace = segundosDesde(cierre);
        }

        // Close the error dialog when it shows, and the window once the run
        // is over (its close button ignores the key until then).
        esperar(
            [&] {
                if (!launcher->enMarcha())
                    return true;
                if (const unsigned long dialogo = idVentana(tituloError)) {
                    if (!o.dialogoError)
                        o.desenlace = segundosDesde(tecla);
                    o.dialogoError = true;
                    LauncherEnPruebas::pulsar(dialogo, "alt+c");
                } else if (releaseInstalada()) {
                    // Only now: a key sent earlier would wait in the queue and
                    // close the error dialog before it could be seen.
                    if (o.desenlace < 0)
                        o.desenlace = segundosDesde(tecla);
                    if (idVentana(tituloVentana) == ventana)
                        LauncherEnPruebas::pulsar(ventana, "alt+c");
                }
                dormirMs(150);
                return false;
            },
            40s);
        o.termino = launcher->esperarFin(15s);
        return o;
    }

    CarpetaTemporal raiz;     // HOME and TMPDIR of the launcher
    CarpetaTemporal trabajo;  // the test's own files
    std::unique_ptr<LauncherEnPruebas> launcher;
    std::unique_ptr<Contexto> contexto;
};

TEST_P(FallosTest, TheApplicationStartsAndTheInstallationStaysWhole)
{
    const Caso& caso = GetParam();
    caso.preparar(*contexto);
    if (HasFatalFailure())
        return;
    if (!contexto->omitir.empty())
        GTEST_SKIP() << contexto->omitir;
    if (!contexto->ajustesPropios)
        launcher->escribirAjustes(versionInstalada);

    const Arbol antes = instalacion(*launcher);
    Arbol nueva = antes;
    for (const auto& [ruta, datos] : contexto->ficheros)
        nueva[ruta] = huella(datos);
    const std::string ajustesAntes = estadoAjustes(*launcher);
    const Arbol raizAntes = arbol(raiz.ruta());

    const Observado o = recorrer(caso);

    Desenlace visto = Desenlace::Cerrada;
    if (!o.ventana)
        visto = Desenlace::SinVentana;
    else if (o.dialogoError)
        visto = Desenlace::DialogoError;
    else if (instalacion(*launcher) == nueva && !contexto->ficheros.empty())
        visto = Desenlace::Completada;
    std::cout << "[ campaign ] " << caso.nombre << ": " << texto(visto) << ", window or start after "
              << o.inicio << " s, outcome after " << o.desenlace << " s" << std::endl;
    RecordProperty("start_seconds", std::to_string(o.inicio));

    // What the user saw.
    const std::string errores = launcher->errores();
    const std::string consola = "stdout:\n" + launcher->salida() + "stderr (end):\n"
                                + errores.substr(errores.size() > 3000 ? errores.size() - 3000 : 0);
    if (caso.esperado == Desenlace::ErrorOCompletada) {
        EXPECT_TRUE(visto == Desenlace::DialogoError || visto == Desenlace::Completada)
            << texto(visto) << "\n" << consola;
    } else {
        EXPECT_EQ(texto(visto), std::string(texto(caso.esperado))) << consola;
    }
    EXPECT_LE(o.inicio, std::chrono::duration<double>(caso.limiteInicio).count())
        << (o.ventana ? "the window" : "the application") << " took too long";
    if (o.desenlace >= 0) {
        EXPECT_LE(o.desenlace, std::chrono::duration<double>(caso.limiteDesenlace).count());
    }

    // The application starts, once, with the launcher's arguments.
    EXPECT_TRUE(o.termino) << "the launcher did not end";
    const auto arranques = launcher->arranquesAplicacion();
    ASSERT_EQ(arranques.size(), 1u) << consola;
    std::vector<std::string> esperados{launcher->binario()};
    esperados.insert(esperados.end(), argumentos.begin(), argumentos.end());
    EXPECT_EQ(arranques[0], esperados);

    // The installation is whole: as it was, or wholly at the new release.
    const bool completada = visto == Desenlace::Completada;
    const Arbol esperada = completada ? nueva : antes;
    const Arbol despues = instalacion(*launcher);
    EXPECT_TRUE(despues == esperada) << diferencias(esperada, despues);

    // The settings hold the new number only after a complete install.
    std::string ajustesEsperados = ajustesAntes;
    if (completada && contexto->ajustesTrasCompletar)
        ajustesEsperados = *contexto->ajustesTrasCompletar;
    else if (completada && ajustesAntes.size() >= 9)
        ajustesEsperados = "file:" + numeroLE(versionNueva) + ajustesAntes.substr(9);
    EXPECT_TRUE(mismosAjustes(estadoAjustes(*launcher), ajustesEsperados));

    // Nothing written but the two folders of the configuration, and in them
    // only the settings, the file list and the release's own files.
    for (const auto& [ruta, contenido] : arbol(launcher->configuracion())) {
        const fs::path relativa(ruta);
        auto parte = relativa.begin();
        const std::string carpeta = parte->string();
        const std::string dentro = ++parte == relativa.end() ? std::string() : parte->string();
        if (carpeta == "tarsenviklauncher")
            EXPECT_TRUE(dentro.empty() || dentro == "datosVersion1.dat" || dentro == nombreXml)
                << ruta;
        else if (carpeta == "datosTarsenvik")
            EXPECT_TRUE(dentro.empty()
                        || (!completada
                            && (dentro == contexto->fallido || dentro == contexto->fallidoTambien)))
                << ruta << " left in the cache";
        else
            ADD_FAILURE() << ruta << " written in the configuration folder";
    }
    const Arbol raizDespues = arbol(raiz.ruta());
    EXPECT_TRUE(raizDespues == raizAntes) << "written in HOME or TMPDIR:\n"
                                          << diferencias(raizAntes, raizDespues);

    if (caso.usuario == Usuario::CerrarDuranteDescarga) {
        EXPECT_TRUE(o.ocultaTrasCierre) << "the close from the title bar left the window up";
    }
    if (caso.comprobar)
        caso.comprobar(*contexto);
}

INSTANTIATE_TEST_SUITE_P(Campaign, FallosTest, ::testing::ValuesIn(casos()),
                         [](const ::testing::TestParamInfo<Caso>& info) { return info.param.nombre; });
