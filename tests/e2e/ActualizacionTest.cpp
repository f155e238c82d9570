// The update run, with the real launcher binary in a scratch installation
// against the real release database and HTTP server under Xvfb, driven by key
// presses: Alt+U on the offer, then the close button of a completed run or the
// error dialog of a failed one. A failed run leaves the installation as it was.
#include "support/EntornoPruebas.h"
#include "support/LauncherEnPruebas.h"
#include "support/ServidorPruebas.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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
const int versionInstalada = 305100;

using Contenido = std::map<std::string, std::string>;  // relative path to content

std::string carpetaVersion(int version)
{
    return ServidorPruebas::carpetaWww() + "/win32/" + std::to_string(version);
}

// The installation as the launcher could change it: all but its configuration
// folder and the files the test harness keeps there.
Contenido instalacion(const LauncherEnPruebas& launcher)
{
    Contenido contenido;
    for (auto& [ruta, datos] : instantanea(launcher.instalacion())) {
        if (ruta.rfind("config/", 0) == 0 || ruta == "arranques.txt" || ruta == "stdout.txt"
            || ruta == "stderr.txt")
            continue;
        contenido[ruta] = datos;
    }
    return contenido;
}

// Publishes `ficheros` (relative path to content) with the update server's own tool.
void publicar(const CarpetaTemporal& scratch, int version, const Contenido& ficheros)
{
    const std::string origen = scratch / ("release-" + std::to_string(version));
    for (const auto& [ruta, datos] : ficheros)
        escribirFichero(origen + "/" + ruta, datos);
    ASSERT_EQ(ServidorPruebas::publicar(origen, version, "Notes of " + std::to_string(version)),
              0);
}

// A release written straight into the server's folders: a file list naming
// whatever it likes, the files by URL path below the release folder, the row.
void publicarLista(int version, const std::string& lista, const Contenido& ficheros)
{
    escribirFichero(carpetaVersion(version) + "/" + nombreXml, lista);
    for (const auto& [ruta, datos] : ficheros)
        escribirFichero(carpetaVersion(version) + "/" + ruta, datos);
    ServidorPruebas::insertarVersion(version, "win32", "Notes", ServidorPruebas::urlBase());
}

std::string lista(const std::vector<std::pair<std::string, std::string>>& entradas)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<instalacion>\n";
    for (const auto& [nombre, ruta] : entradas)
        xml += "  <fichero nombre=\"" + nombre + "\" ruta=\"" + ruta + "\"/>\n";
    return xml + "</instalacion>\n";
}

enum class Fin { Completada, DialogoError, Ninguno };

// Starts the launcher, accepts the offer with Alt+U and takes the run to its
// end: the close button once the new number is stored, or the error dialog's
// Close. Returns how it ended; the launcher process has ended too.
Fin actualizar(LauncherEnPruebas& launcher, int version, const std::vector<std::string>& argumentos)
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

class ActualizacionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ServidorPruebas::asegurarServidor());
        ServidorPruebas::vaciarVersiones();
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
        const int version = 4101000 + static_cast<int>(publicadas.size());
        publicadas.push_back(carpetaVersion(version));
        std::error_code error;
        fs::remove_all(carpetaVersion(version), error);
        return version;
    }

    CarpetaTemporal scratch;
    std::vector<std::string> publicadas;
};

// A completed run: every file in place, the cache empty, the number stored,
// the application started, and nothing offered at the next start.
TEST_F(ActualizacionTest, CompletedRunInstallsTheReleaseAndStartsTheApplication)
{
    struct Caso {
        const char* nombre;
        Contenido antes;    // installation files besides the launcher's own
        Contenido version;  // the release's files, by installed path; empty: an empty list
    };
    const std::vector<Caso> casos = {
        {"several files, in subfolders, one replacing another",
         {{"leeme.txt", "old readme\n"}, {"datos/viejo.dat", "kept"}, {"datos/mapas/.keep", ""}},
         {{"leeme.txt", "new readme\n"},
          {"tarsenvik.dll", std::string("MZ\0\x01\xff binary", 12)},
          {"datos/ayuda.html", "<p>help</p>\n"},
          {"datos/mapas/norte.map", std::string(3000, 'n')}}},
        {"an empty file list", {{"leeme.txt", "old readme\n"}}, {}},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        const int version = nuevaVersion();
        if (caso.version.empty())
            publicarLista(version, lista({}), {});
        else
            publicar(scratch, version, caso.version);
        LauncherEnPruebas launcher;
        for (const auto& [ruta, datos] : caso.antes)
            escribirFichero(launcher.instalacion() + "/" + ruta, datos);
        launcher.escribirAjustes(versionInstalada);
        const std::string ajustesAntes = leerFichero(launcher.ficheroAjustes());
        Contenido esperada = instalacion(launcher);
        for (const auto& [ruta, datos] : caso.version)
            esperada[ruta] = datos;

        ASSERT_EQ(actualizar(launcher, version, {"--sync", "uno", "dos tres"}), Fin::Completada);

        EXPECT_EQ(instalacion(launcher), esperada);
        EXPECT_EQ(listarFicheros(launcher.carpetaCache()), std::vector<std::string>{});
        EXPECT_EQ(leerFichero(launcher.carpetaAjustes() + "/" + nombreXml),
                  leerFichero(carpetaVersion(version) + "/" + nombreXml));
        EXPECT_EQ(launcher.versionAjustes(), version);
        EXPECT_EQ(leerFichero(launcher.ficheroAjustes()).substr(4), ajustesAntes.substr(4))
            << "only the number changes";
        EXPECT_EQ(launcher.salida().find("Error while"), std::string::npos) << launcher.salida();
        auto arranques = launcher.arranquesAplicacion();
        ASSERT_EQ(arranques.size(), 1u);
        EXPECT_EQ(arranques[0], (std::vector<std::string>{launcher.binario(), "uno", "dos tres"}));

        // Nothing is offered now: the launcher ends by itself.
        launcher.arrancar({"otra"});
        ASSERT_TRUE(launcher.esperarFin(15s)) << "a window waited for the user";
        arranques = launcher.arranquesAplicacion();
        ASSERT_EQ(arranques.size(), 2u);
        EXPECT_EQ(arranques[1], (std::vector<std::string>{launcher.binario(), "otra"}));
    }
}

// Every way a run can fail ends the same: the error dialog, the installation
// byte for byte as it was, the settings untouched, the application started.
TEST_F(ActualizacionTest, FailedRunLeavesTheInstallationAsItWas)
{
    const std::string unico = "tarsenvik-fuera-" + std::to_string(getpid());
    struct Preparacion {
        std::vector<std::string> prohibidos;  // absolute paths that must not appear
    };
    struct Caso {
        const char* nombre;
        // Publishes the release and prepares the installation.
        std::function<void(int version, LauncherEnPruebas&, Preparacion&)> preparar;
        bool fallaDescarga;            // "Error while downloading" on standard output
        std::vector<std::string> cacheTolerada;  // may stay in the cache
    };
    auto hostil = [&](std::string nombre, std::string ruta,
                      std::function<std::vector<std::string>(const LauncherEnPruebas&)> objetivos,
                      Contenido servidos) {
        return [=](int version, LauncherEnPruebas& launcher, Preparacion& p) {
            // A good file first: not even that one may be fetched.
            publicarLista(version, lista({{"bueno.txt", ""}, {nombre, ruta}}), servidos);
            p.prohibidos = objetivos(launcher);
        };
    };
    const std::string padre = fs::path(scratch.ruta()).parent_path().string();
    const std::vector<Caso> casos = {
        {"the third of five files answered 404",
         [&](int version, LauncherEnPruebas& launcher, Preparacion&) {
             Contenido ficheros;
             for (int i = 1; i <= 5; ++i)
                 ficheros["parte" + std::to_string(i) + ".bin"] = std::string(2000 + i, 'a' + i);
             publicar(scratch, version, ficheros);
             fs::remove(carpetaVersion(version) + "/parte3.bin");
             escribirFichero(launcher.instalacion() + "/parte1.bin", "old part one");
         },
         true,
         {"parte3.bin"}},
        {"a destination folder missing in the installation",
         [&](int version, LauncherEnPruebas& launcher, Preparacion& p) {
             publicar(scratch, version,
                      {{"leeme.txt", "new"}, {"nuevo.txt", "new file"}, {"zz/falta.txt", "x"}});
             escribirFichero(launcher.instalacion() + "/leeme.txt", "old readme");
             p.prohibidos = {launcher.instalacion() + "/zz"};
         },
         false,
         {}},
        {"a destination that is a folder",
         [&](int version, LauncherEnPruebas& launcher, Preparacion&) {
             // The files before it are already in place when this one fails.
             publicar(scratch, version,
                      {{"leeme.txt", "new"}, {"nuevo.txt", "new file"}, {"zcarpeta", "a file"}});
             escribirFichero(launcher.instalacion() + "/leeme.txt", "old readme");
             escribirFichero(launcher.instalacion() + "/zcarpeta/dentro.txt", "inside");
         },
         false,
         {}},
        {"a file list that is not well-formed",
         [&](int version, LauncherEnPruebas&, Preparacion&) {
             publicarLista(version, "<instalacion><fichero nombre=\"bueno.txt\" ruta=\"\"",
                           {{"bueno.txt", "good"}});
         },
         false,
         {}},
        {"hostile list: a name climbing out",
         hostil("../" + unico, "",
                [&](const LauncherEnPruebas& l) {
                    return std::vector<std::string>{padre + "/" + unico,
                                                    l.configuracion() + "/" + unico};
                },
                // Where the name's URL leads once the client has resolved the "..".
                {{"bueno.txt", "good"}, {"../" + unico, "escaped"}}),
         false,
         {}},
        {"hostile list: a folder climbing out",
         hostil(unico, "../",
                [&](const LauncherEnPruebas&) {
                    return std::vector<std::string>{padre + "/" + unico};
                },
                {{"bueno.txt", "good"}, {unico, "escaped"}}),
         false,
         {}},
        {"hostile list: an absolute folder",
         hostil(unico, "/etc/x",
                [&](const LauncherEnPruebas& l) {
                    // Refused even where it would land inside the installation.
                    fs::create_directories(l.instalacion() + "/etc");
                    return std::vector<std::string>{"/etc/x" + unico,
                                                    l.instalacion() + "/etc/x" + unico};
                },
                {{"bueno.txt", "good"}, {unico, "escaped"}}),
         false,
         {}},
        {"hostile list: a name with a folder in it",
         hostil("a/" + unico, "",
                [&](const LauncherEnPruebas& l) {
                    fs::create_directories(l.instalacion() + "/a");
                    fs::create_directories(l.carpetaCache() + "/a");
                    return std::vector<std::string>{l.instalacion() + "/a/" + unico,
                                                    l.carpetaCache() + "/a/" + unico};
                },
                {{"bueno.txt", "good"}, {"a/" + unico, "escaped"}}),
         false,
         {}},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        const int version = nuevaVersion();
        LauncherEnPruebas launcher;
        Preparacion preparacion;
        caso.preparar(version, launcher, preparacion);
        if (HasFatalFailure())
            return;
        launcher.escribirAjustes(versionInstalada);
        const std::string ajustesAntes = leerFichero(launcher.ficheroAjustes());
        const Contenido antes = instalacion(launcher);

        EXPECT_EQ(actualizar(launcher, version, {"uno"}), Fin::DialogoError);

        EXPECT_EQ(instalacion(launcher), antes);
        EXPECT_EQ(leerFichero(launcher.ficheroAjustes()), ajustesAntes);
        for (const std::string& fichero : listarFicheros(launcher.carpetaCache())) {
            EXPECT_NE(std::find(caso.cacheTolerada.begin(), caso.cacheTolerada.end(), fichero),
                      caso.cacheTolerada.end())
                << fichero << " left in the cache";
        }
        // The launcher writes nowhere in its configuration but its two folders.
        for (const std::string& fichero : listarFicheros(launcher.configuracion())) {
            EXPECT_TRUE(fichero.rfind("tarsenviklauncher/", 0) == 0
                        || fichero.rfind("datosTarsenvik/", 0) == 0)
                << fichero;
        }
        for (const std::string& prohibido : preparacion.prohibidos) {
            EXPECT_FALSE(existe(prohibido)) << prohibido;
            std::error_code error;
            fs::remove_all(prohibido, error);
        }
        const std::string salida = launcher.salida();
        EXPECT_EQ(salida.find("Error while downloading") != std::string::npos, caso.fallaDescarga)
            << salida;
        const auto arranques = launcher.arranquesAplicacion();
        ASSERT_EQ(arranques.size(), 1u);
        EXPECT_EQ(arranques[0], (std::vector<std::string>{launcher.binario(), "uno"}));
    }
    std::error_code error;
    fs::remove(ServidorPruebas::carpetaWww() + "/win32/" + unico, error);
}
