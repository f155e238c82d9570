// Verified releases, end to end: the real launcher binaries in scratch
// installations under Xvfb, driven by key presses, against the real release
// database and HTTP server (and the in-process server for a body that does not
// end). "tarsenvik-launcher-firmado" is built with the public key of
// tests/data/clave-prueba.pub, a key pair kept for the tests alone;
// "tarsenvik-launcher" is built without a key. Releases are published and
// signed with the project's own tools (server/publish --key, server/keygen,
// tarsenvik-sign).
#include "support/EntornoPruebas.h"
#include "support/LauncherEnPruebas.h"
#include "support/ServidorDefectuoso.h"
#include "support/ServidorPruebas.h"

#include <gtest/gtest.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace EntornoPruebas;
using namespace std::chrono_literals;

namespace {

const char* const tituloVentana = "Tarsenvik Updater";
const char* const tituloError = "Update error";
const char* const nombreXml = "XmlInstalacion.xml";
const char* const nombreFirma = "XmlInstalacion.xml.sig";
const char* const conClave = "tarsenvik-launcher-firmado";
const char* const sinClave = "tarsenvik-launcher";
const char* const errorDescarga = "Error while downloading";
const int versionInstalada = 305100;

using Contenido = std::map<std::string, std::string>;  // relative path to content

std::string carpetaVersion(int version)
{
    return ServidorPruebas::carpetaWww() + "/win32/" + std::to_string(version);
}

std::string comillas(const std::string& texto)
{
    std::string resultado = "'";
    for (char c : texto)
        resultado += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return resultado + "'";
}

std::string herramientaFirma() { return carpetaCompilacion() + "/bin/tarsenvik-sign"; }

std::string sha256Hex(const std::string& datos)
{
    unsigned char hash[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(hash, reinterpret_cast<const unsigned char*>(datos.data()), datos.size());
    char hex[2 * sizeof hash + 1];
    sodium_bin2hex(hex, sizeof hex, hash, sizeof hash);
    return hex;
}

// A file's content as the snapshots keep it: large ones as size and hash, so
// that a difference does not print megabytes.
std::string huella(const std::string& datos)
{
    return datos.size() <= 200 ? datos
                               : std::to_string(datos.size()) + " bytes, sha256 " + sha256Hex(datos);
}

// The installation as the launcher could change it: all but its configuration
// folder and the files of the test harness.
Contenido instalacion(const LauncherEnPruebas& launcher)
{
    Contenido contenido;
    for (auto& [ruta, datos] : instantanea(launcher.instalacion())) {
        if (ruta.rfind("config/", 0) == 0 || ruta == "arranques.txt" || ruta == "stdout.txt"
            || ruta == "stderr.txt")
            continue;
        contenido[ruta] = huella(datos);
    }
    return contenido;
}

// One entry of a file list written by hand: attribute name to value.
using Atributos = std::vector<std::pair<std::string, std::string>>;

std::string listaXml(const Atributos& raiz, const std::vector<Atributos>& entradas)
{
    auto atributos = [](const Atributos& lista) {
        std::string texto;
        for (const auto& [nombre, valor] : lista)
            texto += " " + nombre + "=\"" + valor + "\"";
        return texto;
    };
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<instalacion" + atributos(raiz)
                      + ">\n";
    for (const Atributos& entrada : entradas)
        xml += "  <fichero" + atributos(entrada) + "/>\n";
    return xml + "</instalacion>\n";
}

// The entry a publisher would write for a top-level file with this content.
Atributos entrada(const std::string& nombre, const std::string& datos)
{
    return {{"nombre", nombre},
            {"ruta", ""},
            {"bytes", std::to_string(datos.size())},
            {"sha256", sha256Hex(datos)}};
}

Atributos raizDe(int version, const std::string& plataforma = "win32")
{
    return {{"version", std::to_string(version)}, {"plataforma", plataforma}};
}

enum class Fin { Completada, DialogoError, Ninguno };

// Starts the launcher, accepts the offer with Alt+U and takes the run to its
// end: the close button once the new number is stored, or the error dialog's
// Close. `mientras` runs at every look while the run goes on. The launcher
// process has ended on return.
Fin actualizar(LauncherEnPruebas& launcher, int version, const std::vector<std::string>& argumentos,
               const std::function<void()>& mientras = [] {})
{
    launcher.arrancar(argumentos);
    const unsigned long ventana = launcher.esperarVentana(tituloVentana, 10s);
    if (ventana == 0) {
        ADD_FAILURE() << "the release was not offered";
        launcher.esperarFin(0ms);
        return Fin::Ninguno;
    }
    LauncherEnPruebas::pulsar(ventana, "alt+u");

    Fin fin = Fin::Ninguno;
    esperar(
        [&] {
            mientras();
            if (launcher.versionAjustes() == version)
                fin = Fin::Completada;
            else if (LauncherEnPruebas::hayVentana(tituloError))
                fin = Fin::DialogoError;
            return fin != Fin::Ninguno || !launcher.enMarcha();
        },
        20s);

    if (fin == Fin::Completada) {
        // The close button becomes active just after the number is stored.
        for (int intento = 0; intento < 20 && launcher.enMarcha(); ++intento) {
            LauncherEnPruebas::pulsar(ventana, "alt+c");
            esperar([&] { return !launcher.enMarcha(); }, 500ms);
        }
    } else if (fin == Fin::DialogoError) {
        const unsigned long dialogo = launcher.esperarVentana(tituloError, 5s);
        LauncherEnPruebas::pulsar(dialogo, "alt+c");
    } else {
        ADD_FAILURE() << "the run neither completed nor showed the error dialog";
    }
    if (!launcher.esperarFin(15s))
        ADD_FAILURE() << "the launcher did not end";
    return fin;
}

} // namespace

class VerificacionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ServidorPruebas::asegurarServidor());
        ServidorPruebas::vaciarVersiones();
        // The test key as a publisher keeps it: readable by its owner only.
        clave = scratch / "clave-prueba.key";
        fs::copy_file(carpetaFuentes() + "/tests/data/clave-prueba.key", clave);
        fs::permissions(clave, fs::perms::owner_read | fs::perms::owner_write);
    }

    void TearDown() override
    {
        ServidorPruebas::vaciarVersiones();
        std::error_code error;
        for (const std::string& carpeta : publicadas)
            fs::remove_all(carpeta, error);
    }

    // A release number of this test, its server folder cleared.
    int nuevaVersion()
    {
        const int version = 4201000 + static_cast<int>(publicadas.size());
        publicadas.push_back(carpetaVersion(version));
        std::error_code error;
        fs::remove_all(carpetaVersion(version), error);
        return version;
    }

    // Publishes `ficheros` with server/publish, signed with `claveSecreta`
    // unless it is empty. The exit status.
    int publicar(int version, const Contenido& ficheros, const std::string& claveSecreta)
    {
        const std::string origen = scratch / ("release-" + std::to_string(version));
        for (const auto& [ruta, datos] : ficheros)
            escribirFichero(origen + "/" + ruta, datos);
        std::string orden = "TARSENVIK_SIGN_TOOL=" + comillas(herramientaFirma()) + " "
                            + carpetaFuentes() + "/server/publish --dir "
                            + comillas(carpetaServidor()) + " --release " + std::to_string(version)
                            + " --notes 'Notes'";
        if (!claveSecreta.empty())
            orden += " --key " + comillas(claveSecreta);
        return ejecutar(orden + " " + comillas(origen) + " >/dev/null 2>&1");
    }

    // A release written straight into the server's folder: the list as given,
    // signed with `claveSecreta` unless it is empty, the files, the row.
    void publicarLista(int version, const std::string& lista, const Contenido& ficheros,
                       const std::string& claveSecreta)
    {
        escribirFichero(carpetaVersion(version) + "/" + nombreXml, lista);
        for (const auto& [ruta, datos] : ficheros)
            escribirFichero(carpetaVersion(version) + "/" + ruta, datos);
        if (!claveSecreta.empty()) {
            ASSERT_EQ(firmar(carpetaVersion(version) + "/" + nombreXml, claveSecreta,
                             carpetaVersion(version) + "/" + nombreFirma),
                      0);
        }
        ServidorPruebas::insertarVersion(version, "win32", "Notes", ServidorPruebas::urlBase());
    }

    static int firmar(const std::string& fichero, const std::string& claveSecreta,
                      const std::string& firma)
    {
        return ejecutar(comillas(herramientaFirma()) + " sign " + comillas(claveSecreta) + " "
                        + comillas(fichero) + " >" + comillas(firma) + " 2>/dev/null");
    }

    // A second key pair, made by the publisher's own command.
    std::string otraClave()
    {
        const std::string carpeta = scratch / "otra";
        std::string salida;
        EXPECT_EQ(ejecutarCapturando("TARSENVIK_SIGN_TOOL=" + comillas(herramientaFirma()) + " "
                                         + carpetaFuentes() + "/server/keygen --out "
                                         + comillas(carpeta) + " 2>/dev/null",
                                     salida),
                  0);
        return carpeta + "/tarsenvik-release.key";
    }

    CarpetaTemporal scratch;
    std::string clave;
    std::vector<std::string> publicadas;
};

namespace {

// What a run is expected to do, and how the release is prepared for it.
struct Caso {
    const char* nombre;
    const char* launcher;  // binary of the build's bin/
    // Publishes release `version` and prepares the installation.
    std::function<void(int version, LauncherEnPruebas&)> preparar;
    Fin fin;
    bool fallaDescarga;  // refused while downloading, not with the list
};

const Contenido ficherosVersion = {
    {"leeme.txt", "new readme\n"},
    {"tarsenvik.dll", std::string("MZ\0\x01\xff binary", 12)},
    {"datos/ayuda.html", "<p>help</p>\n"},
    {"datos/mapas/norte.map", std::string(300000, 'n')},
};

// Runs each case against a fresh installation holding an old readme and
// checks the outcome: either `instalados` in place and the new number
// stored, or the error dialog with the installation, the settings and the
// cache as they were. The application starts either way.
void ejecutarCasos(const std::vector<Caso>& casos, const std::function<int()>& nuevaVersion,
                   const Contenido& instalados)
{
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        const int version = nuevaVersion();
        LauncherEnPruebas launcher(true, caso.launcher);
        escribirFichero(launcher.instalacion() + "/leeme.txt", "old readme\n");
        escribirFichero(launcher.instalacion() + "/datos/mapas/.keep", "");
        caso.preparar(version, launcher);
        if (::testing::Test::HasFatalFailure())
            return;
        launcher.escribirAjustes(versionInstalada);
        const std::string ajustesAntes = leerFichero(launcher.ficheroAjustes());
        const Contenido antes = instalacion(launcher);

        EXPECT_EQ(actualizar(launcher, version, {"uno"}), caso.fin);

        const std::string salida = launcher.salida();
        if (caso.fin == Fin::Completada) {
            Contenido esperada = antes;
            for (const auto& [ruta, datos] : instalados)
                esperada[ruta] = huella(datos);
            EXPECT_EQ(instalacion(launcher), esperada);
            EXPECT_EQ(launcher.versionAjustes(), version);
            EXPECT_EQ(salida.find("Error while"), std::string::npos) << salida;
        } else {
            EXPECT_EQ(instalacion(launcher), antes);
            EXPECT_EQ(leerFichero(launcher.ficheroAjustes()), ajustesAntes);
            EXPECT_EQ(salida.find(errorDescarga) != std::string::npos, caso.fallaDescarga)
                << salida;
            // A refused list fetches no file; of a refused file, only its own
            // partial copy may stay.
            EXPECT_LE(listarFicheros(launcher.carpetaCache()).size(), caso.fallaDescarga ? 1u : 0u);
        }
        const auto arranques = launcher.arranquesAplicacion();
        ASSERT_EQ(arranques.size(), 1u);
        EXPECT_EQ(arranques[0], (std::vector<std::string>{launcher.binario(), "uno"}));
    }
}

void cambiarFichero(int version, const std::string& nombre,
                    const std::function<void(std::string&)>& cambio)
{
    const std::string ruta = carpetaVersion(version) + "/" + nombre;
    std::string datos = leerFichero(ruta);
    cambio(datos);
    escribirFichero(ruta, datos);
}

} // namespace

// The launcher built with the release key installs a release its key signed,
// and refuses one whose files or list changed after the signing.
TEST_F(VerificacionTest, SignedLauncherInstallsOnlyWhatWasSigned)
{
    auto firmadaY = [this](std::function<void(int)> despues) {
        return [this, despues](int version, LauncherEnPruebas&) {
            ASSERT_EQ(publicar(version, ficherosVersion, clave), 0);
            despues(version);
        };
    };
    const std::vector<Caso> casos = {
        {"a signed release installs", conClave, firmadaY([](int) {}), Fin::Completada, false},
        {"one byte of a release file changed on the server", conClave,
         firmadaY([](int version) {
             cambiarFichero(version, "norte.map", [](std::string& d) { d[150000] = 'X'; });
         }),
         Fin::DialogoError, true},
        {"a release file cut short on the server", conClave,
         firmadaY([](int version) {
             cambiarFichero(version, "norte.map", [](std::string& d) { d.pop_back(); });
         }),
         Fin::DialogoError, true},
        {"a release file and its entry in the list both changed", conClave,
         firmadaY([](int version) {
             const std::string antiguo = leerFichero(carpetaVersion(version) + "/leeme.txt");
             const std::string nuevo = "an attacker's readme, of another size\n";
             escribirFichero(carpetaVersion(version) + "/leeme.txt", nuevo);
             cambiarFichero(version, nombreXml, [&](std::string& lista) {
                 const std::vector<std::pair<std::string, std::string>> cambios = {
                     {sha256Hex(antiguo), sha256Hex(nuevo)},
                     {"bytes=\"" + std::to_string(antiguo.size()) + "\"",
                      "bytes=\"" + std::to_string(nuevo.size()) + "\""}};
                 for (const auto& [de, a] : cambios) {
                     const auto posicion = lista.find(de);
                     ASSERT_NE(posicion, std::string::npos) << de;
                     lista.replace(posicion, de.size(), a);
                 }
             });
         }),
         Fin::DialogoError, false},
        {"a line end added to the list", conClave,
         firmadaY([](int version) {
             cambiarFichero(version, nombreXml, [](std::string& lista) { lista += "\n"; });
         }),
         Fin::DialogoError, false},
    };
    ejecutarCasos(casos, [this] { return nuevaVersion(); }, ficherosVersion);
}

// A list that is not signed by the release key for this very release, or
// that leaves a file unchecked, is refused before any file is fetched.
TEST_F(VerificacionTest, SignedLauncherRefusesAListNotSignedForThisRelease)
{
    const std::string otra = otraClave();
    // Top-level files only: a list written by hand keeps them simple.
    Contenido ficheros;
    std::vector<Atributos> entradas;
    for (const auto& [ruta, datos] : ficherosVersion) {
        if (ruta.find('/') == std::string::npos) {
            ficheros[ruta] = datos;
            entradas.push_back(entrada(ruta, datos));
        }
    }
    auto sinAtributo = [&](const char* atributo) {
        std::vector<Atributos> resultado = entradas;
        Atributos& ultima = resultado.back();
        ultima.erase(std::remove_if(ultima.begin(), ultima.end(),
                                    [&](const auto& a) { return a.first == atributo; }),
                     ultima.end());
        return resultado;
    };
    // A list by hand, for `plataforma` (empty: the root names no release).
    auto aMano = [&](std::string plataforma, std::vector<Atributos> lista, std::string claveSecreta) {
        return [=](int version, LauncherEnPruebas&) {
            publicarLista(version,
                          listaXml(plataforma.empty() ? Atributos{} : raizDe(version, plataforma),
                                   lista),
                          ficheros, claveSecreta);
        };
    };
    auto publicada = [&](std::string claveSecreta, const char* quitar) {
        return [=](int version, LauncherEnPruebas&) {
            ASSERT_EQ(publicar(version, ficheros, claveSecreta), 0);
            if (quitar != nullptr)
                fs::remove(carpetaVersion(version) + "/" + quitar);
        };
    };
    const std::vector<Caso> casos = {
        // What the refusals below each change one thing of.
        {"by hand, as the publisher writes it", conClave, aMano("win32", entradas, clave),
         Fin::Completada, false},
        {"as published", conClave, publicada(clave, nullptr), Fin::Completada, false},
        {"no signature file", conClave, publicada(clave, nombreFirma), Fin::DialogoError, false},
        {"published without a key", conClave, publicada("", nullptr), Fin::DialogoError, false},
        {"signed by another key", conClave, publicada(otra, nullptr), Fin::DialogoError, false},
        {"an older release's signed list and files in the newer release's folder", conClave,
         [&](int version, LauncherEnPruebas&) {
             const int anterior = version - 1000;
             publicadas.push_back(carpetaVersion(anterior));
             fs::remove_all(carpetaVersion(anterior));
             ASSERT_EQ(publicar(anterior, ficheros, clave), 0);
             ASSERT_EQ(publicar(version, {{"otro.txt", "other"}}, clave), 0);
             for (const auto& fichero : fs::directory_iterator(carpetaVersion(anterior)))
                 fs::copy_file(fichero.path(),
                               carpetaVersion(version) + "/" + fichero.path().filename().string(),
                               fs::copy_options::overwrite_existing);
         },
         Fin::DialogoError, false},
        {"signed for another platform", conClave, aMano("linux", entradas, clave),
         Fin::DialogoError, false},
        {"signed without its release", conClave, aMano("", entradas, clave), Fin::DialogoError,
         false},
        {"signed, an entry without its size", conClave, aMano("win32", sinAtributo("bytes"), clave),
         Fin::DialogoError, false},
        {"signed, an entry without its hash", conClave,
         aMano("win32", sinAtributo("sha256"), clave), Fin::DialogoError, false},
    };
    ejecutarCasos(casos, [this] { return nuevaVersion(); }, ficheros);
}

// Built without a key, the launcher takes lists as before, signed or not,
// and checks each file against the size and hash its list declares.
TEST_F(VerificacionTest, LauncherWithoutAKeyChecksWhatTheListDeclares)
{
    Contenido ficheros;
    std::vector<Atributos> antiguas, declaradas;
    for (const auto& [ruta, datos] : ficherosVersion) {
        if (ruta.find('/') == std::string::npos) {
            ficheros[ruta] = datos;
            antiguas.push_back({{"nombre", ruta}, {"ruta", ""}});
            declaradas.push_back(entrada(ruta, datos));
        }
    }
    auto conValor = [&](const char* atributo, const std::string& valor) {
        std::vector<Atributos> resultado = declaradas;
        for (auto& [nombre, actual] : resultado.back())
            if (nombre == atributo)
                actual = valor;
        return resultado;
    };
    auto aMano = [&](std::vector<Atributos> lista) {
        return [=](int version, LauncherEnPruebas&) {
            publicarLista(version, listaXml({}, lista), ficheros, "");
        };
    };
    auto publicada = [&](std::string claveSecreta, bool alterar) {
        return [=](int version, LauncherEnPruebas&) {
            ASSERT_EQ(publicar(version, ficheros, claveSecreta), 0);
            if (alterar)
                cambiarFichero(version, "tarsenvik.dll", [](std::string& d) { d[3] ^= 0x20; });
        };
    };
    const std::string hash = entrada("x", "x")[3].second;
    const std::vector<Caso> casos = {
        {"an old list: no sizes, no hashes, no signature", sinClave, aMano(antiguas),
         Fin::Completada, false},
        {"published without a key", sinClave, publicada("", false), Fin::Completada, false},
        {"published with a key: signature and release ignored", sinClave, publicada(clave, false),
         Fin::Completada, false},
        {"one byte of a release file changed", sinClave, publicada("", true), Fin::DialogoError,
         true},
        {"a size larger than the file", sinClave,
         aMano(conValor("bytes", std::to_string(ficheros.rbegin()->second.size() + 1))),
         Fin::DialogoError, true},
        {"a malformed size", sinClave, aMano(conValor("bytes", "12 bytes")), Fin::DialogoError,
         false},
        {"a malformed hash", sinClave, aMano(conValor("sha256", hash.substr(0, 63))),
         Fin::DialogoError, false},
    };
    ejecutarCasos(casos, [this] { return nuevaVersion(); }, ficheros);
}

// A server that sends more than the declared size, and then holds the
// connection open, is cut off at once: the cache file never grows past the
// declared size, and the run does not wait for the inactivity limit.
TEST_F(VerificacionTest, BodyLongerThanDeclaredIsAbandonedWithoutFillingTheDisk)
{
    using Respuesta = ServidorDefectuoso::Respuesta;
    const std::string declarado = std::string(1000, 'd');
    const std::string enorme(64 * 1024 * 1024, 'e');
    struct CasoCuerpo {
        const char* nombre;
        const char* launcher;
        bool firmada;
        ServidorDefectuoso::Longitud longitud;
    };
    const std::vector<CasoCuerpo> casos = {
        {"signed list, no length", conClave, true, ServidorDefectuoso::Longitud::HastaCierre},
        {"list without a key, chunked", sinClave, false, ServidorDefectuoso::Longitud::Troceada},
        {"signed list, a length announced", conClave, true, ServidorDefectuoso::Longitud::Anunciada},
    };
    for (const CasoCuerpo& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        const int version = nuevaVersion();
        ServidorDefectuoso servidor;
        const std::string carpeta = "/win32/" + std::to_string(version) + "/";
        const std::string lista = listaXml(caso.firmada ? raizDe(version) : Atributos{},
                                           {entrada("grande.bin", declarado)});
        Respuesta r;
        r.cuerpo = lista;
        servidor.responder(carpeta + nombreXml, r);
        if (caso.firmada) {
            escribirFichero(scratch / "lista.xml", lista);
            ASSERT_EQ(firmar(scratch / "lista.xml", clave, scratch / "lista.sig"), 0);
            r.cuerpo = leerFichero(scratch / "lista.sig");
            servidor.responder(carpeta + nombreFirma, r);
        }
        Respuesta cuerpo;
        cuerpo.cuerpo = enorme;
        cuerpo.longitud = caso.longitud;
        cuerpo.trozo = 256 * 1024;
        cuerpo.final = ServidorDefectuoso::Final::Estancar;
        servidor.responder(carpeta + "grande.bin", cuerpo);
        ServidorPruebas::insertarVersion(version, "win32", "Notes", servidor.url());

        LauncherEnPruebas launcher(true, caso.launcher);
        launcher.escribirAjustes(versionInstalada);
        const Contenido antes = instalacion(launcher);
        const std::string cache = launcher.carpetaCache() + "/grande.bin";
        std::uintmax_t mayor = 0;
        const auto inicio = std::chrono::steady_clock::now();
        EXPECT_EQ(actualizar(launcher, version, {"uno"},
                             [&] {
                                 std::error_code error;
                                 const auto tamano = fs::file_size(cache, error);
                                 if (!error)
                                     mayor = std::max(mayor, tamano);
                             }),
                  Fin::DialogoError);
        // Far below the launcher's 60 s without data.
        EXPECT_LT(std::chrono::steady_clock::now() - inicio, 20s);
        std::error_code error;
        const auto final = fs::file_size(cache, error);
        EXPECT_LE(error ? 0 : final, declarado.size());
        EXPECT_LE(mayor, declarado.size());
        EXPECT_NE(launcher.salida().find(errorDescarga), std::string::npos) << launcher.salida();
        EXPECT_EQ(instalacion(launcher), antes);
        EXPECT_EQ(launcher.arranquesAplicacion().size(), 1u);
        ServidorPruebas::vaciarVersiones();
    }
}

// The publisher's key pair: the secret key readable by its owner alone, the
// public key printed and kept beside it, neither ever overwritten, and never
// written inside the source tree.
TEST_F(VerificacionTest, KeygenKeepsTheSecretKeyPrivate)
{
    const std::string herramienta = "TARSENVIK_SIGN_TOOL=" + comillas(herramientaFirma()) + " "
                                    + carpetaFuentes() + "/server/keygen";
    const std::string carpeta = scratch / "claves";
    std::string impresa;
    ASSERT_EQ(ejecutarCapturando(herramienta + " --out " + comillas(carpeta) + " 2>/dev/null",
                                 impresa),
              0);
    const std::string secreta = carpeta + "/tarsenvik-release.key";
    const std::string publica = carpeta + "/tarsenvik-release.pub";
    struct stat estado {};
    ASSERT_EQ(stat(secreta.c_str(), &estado), 0);
    EXPECT_EQ(estado.st_mode & 0777, 0600u);
    EXPECT_EQ(impresa.size(), 45u) << impresa;  // 32 bytes in base64 and a line end
    EXPECT_EQ(leerFichero(publica), impresa);
    std::string derivada;
    ASSERT_EQ(ejecutarCapturando(comillas(herramientaFirma()) + " public " + comillas(secreta),
                                 derivada),
              0);
    EXPECT_EQ(derivada, impresa);

    // What it signs, its public key verifies, and no other key does.
    escribirFichero(scratch / "datos", "some bytes");
    ASSERT_EQ(firmar(scratch / "datos", secreta, scratch / "datos.sig"), 0);
    const std::string verificar = comillas(herramientaFirma()) + " verify ";
    EXPECT_EQ(ejecutar(verificar + comillas(publica) + " " + comillas(scratch / "datos") + " "
                       + comillas(scratch / "datos.sig") + " 2>/dev/null"),
              0);
    escribirFichero(scratch / "prueba.pub", leerFichero(carpetaFuentes() + "/tests/data/clave-prueba.pub"));
    EXPECT_NE(ejecutar(verificar + comillas(scratch / "prueba.pub") + " " + comillas(scratch / "datos")
                       + " " + comillas(scratch / "datos.sig") + " 2>/dev/null"),
              0);

    const std::string antes = leerFichero(secreta);
    struct Rechazo {
        const char* nombre;
        std::string argumentos;
    };
    const std::vector<Rechazo> rechazos = {
        {"over an existing key", "--out " + comillas(carpeta)},
        {"inside the source tree", "--out " + comillas(carpetaFuentes() + "/tests/claves-" + std::to_string(getpid()))},
    };
    for (const Rechazo& rechazo : rechazos) {
        SCOPED_TRACE(rechazo.nombre);
        std::string salida;
        EXPECT_NE(ejecutarCapturando(herramienta + " " + rechazo.argumentos + " 2>/dev/null", salida), 0);
        EXPECT_EQ(salida, "");
    }
    EXPECT_EQ(leerFichero(secreta), antes);
    EXPECT_FALSE(existe(carpetaFuentes() + "/tests/claves-" + std::to_string(getpid())));
}
