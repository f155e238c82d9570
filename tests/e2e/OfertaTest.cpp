// The release offer, with the real launcher binary under Xvfb against the real
// release database, answered by real key presses: when it is offered, what
// each choice stores, and that a damaged data folder does not stop the
// application from starting.
#include "support/EntornoPruebas.h"
#include "support/LauncherEnPruebas.h"
#include "support/ServidorPruebas.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using namespace EntornoPruebas;

namespace {

const char* const tituloVentana = "Tarsenvik Updater";
const auto ventanaMaximo = std::chrono::seconds(10);
const auto finMaximo = std::chrono::seconds(15);
const int versionOfrecida = 305063;

// The window's id once it shows, or 0 when the launcher ends without one.
unsigned long ventanaOFin(LauncherEnPruebas& launcher)
{
    unsigned long ventana = 0;
    esperar(
        [&] {
            if (!launcher.enMarcha())
                return true;
            ventana = launcher.esperarVentana(tituloVentana, std::chrono::milliseconds(300));
            return ventana != 0;
        },
        ventanaMaximo);
    return ventana;
}

// The installation as the launcher could change it: program and data folder.
std::vector<std::pair<std::string, std::string>> instalacion(const LauncherEnPruebas& launcher)
{
    auto contenido = instantanea(launcher.instalacion() + "/bin");
    for (auto& fichero : instantanea(launcher.instalacion() + "/src"))
        contenido.push_back(fichero);
    return contenido;
}

void reemplazarEnFichero(const std::string& ruta, const std::string& de, const std::string& a)
{
    std::string contenido = leerFichero(ruta);
    const size_t donde = contenido.find(de);
    ASSERT_NE(donde, std::string::npos) << de << " not in " << ruta;
    contenido.replace(donde, de.size(), a);
    escribirFichero(ruta, contenido);
}

} // namespace

class OfertaTest : public ::testing::Test {
protected:
    void SetUp() override { ServidorPruebas::vaciarVersiones(); }

    static void publicar(int version, const std::string& notas = "Release notes\nline two")
    {
        ServidorPruebas::insertarVersion(version, "win32", notas, ServidorPruebas::urlBase());
    }
};

TEST_F(OfertaTest, SeOfreceSoloLoMasNuevoQueLoInstaladoYQueElMinimo)
{
    struct Caso {
        const char* nombre;
        std::optional<int> instalada;  // none: first start, the settings default to 2
        int ultima;
        bool ofrecida;
    };
    const Caso casos[] = {
        {"first start, one above the floor", std::nullopt, 305063, true},
        {"first start, the floor itself", std::nullopt, 305062, false},
        {"negative number, one above the floor", -7, 305063, true},
        {"negative number, the floor itself", -7, 305062, false},
        {"well above the floor, one newer", 305100, 305101, true},
        {"well above the floor, the same", 305100, 305100, false},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        ServidorPruebas::vaciarVersiones();
        publicar(caso.ultima);
        LauncherEnPruebas launcher;
        if (caso.instalada)
            launcher.escribirAjustes(*caso.instalada);
        launcher.arrancar({"q"});

        const unsigned long ventana = ventanaOFin(launcher);

        EXPECT_EQ(ventana != 0, caso.ofrecida);
        if (ventana != 0)
            LauncherEnPruebas::cerrarDesdeTitulo(ventana);
        ASSERT_TRUE(launcher.esperarFin(finMaximo));
        EXPECT_EQ(launcher.estadoSalida(), 0);
        const auto arranques = launcher.arranquesAplicacion();
        ASSERT_EQ(arranques.size(), 1u);
        EXPECT_EQ(arranques[0], (std::vector<std::string>{launcher.binario(), "q"}));
    }
}

TEST_F(OfertaTest, CadaEleccionGuardaLoSuyoYArrancaLaAplicacion)
{
    struct Caso {
        const char* nombre;
        std::function<void(unsigned long)> elegir;
        bool saltada;  // the release counts as installed from now on
    };
    const Caso casos[] = {
        {"skip (Alt+S)", [](unsigned long v) { LauncherEnPruebas::pulsar(v, "alt+s"); }, true},
        {"remind later (Alt+L)", [](unsigned long v) { LauncherEnPruebas::pulsar(v, "alt+l"); },
         false},
        {"closed from the title bar",
         [](unsigned long v) { LauncherEnPruebas::cerrarDesdeTitulo(v); }, false},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        ServidorPruebas::vaciarVersiones();
        publicar(versionOfrecida);
        LauncherEnPruebas launcher;
        const auto instalacionAntes = instalacion(launcher);
        launcher.arrancar({"--sync", "p", "q r"});
        const unsigned long ventana = launcher.esperarVentana(tituloVentana, ventanaMaximo);
        ASSERT_NE(ventana, 0ul);
        // Start-up is over once the window shows.
        const std::string ajustesArranque = leerFichero(launcher.ficheroAjustes());
        ASSERT_EQ(ajustesArranque.size(), 156u);

        caso.elegir(ventana);

        ASSERT_TRUE(launcher.esperarFin(finMaximo)) << "the choice must close the window";
        EXPECT_EQ(launcher.estadoSalida(), 0);
        auto arranques = launcher.arranquesAplicacion();
        ASSERT_EQ(arranques.size(), 1u);
        EXPECT_EQ(arranques[0], (std::vector<std::string>{launcher.binario(), "p", "q r"}));
        const std::string ajustes = leerFichero(launcher.ficheroAjustes());
        if (caso.saltada) {
            ASSERT_EQ(ajustes.size(), 156u);
            EXPECT_EQ(launcher.versionAjustes(), versionOfrecida);
            EXPECT_EQ(ajustes.substr(4), ajustesArranque.substr(4)) << "the address is kept";
        } else {
            EXPECT_EQ(ajustes, ajustesArranque) << "nothing is stored";
        }
        // Nothing was downloaded or installed.
        EXPECT_TRUE(listarFicheros(launcher.carpetaCache()).empty());
        EXPECT_EQ(instalacion(launcher), instalacionAntes);

        // The next start with the same table.
        launcher.arrancar({"again"});
        const unsigned long otra = ventanaOFin(launcher);
        EXPECT_EQ(otra != 0, !caso.saltada);
        if (otra != 0)
            LauncherEnPruebas::cerrarDesdeTitulo(otra);
        ASSERT_TRUE(launcher.esperarFin(finMaximo));
        arranques = launcher.arranquesAplicacion();
        ASSERT_EQ(arranques.size(), 2u);
        EXPECT_EQ(arranques[1], (std::vector<std::string>{launcher.binario(), "again"}));
    }
}

TEST_F(OfertaTest, UnaCarpetaDeDatosDanadaNoImpideArrancarLaAplicacion)
{
    const std::string diseno = "/src/Glade/DialogoNotasActualiza.glade";
    struct Caso {
        const char* nombre;
        std::function<void(const std::string&)> danar;  // given the installation folder
        const char* teclas;  // null: closed from the title bar
        bool cargaFallida;   // the loader's own message must reach standard error
        bool ofrecida;       // without its update button the offer is not shown at all
    };
    const Caso casos[] = {
        {"offer layout missing", [&](const std::string& f) { std::remove((f + diseno).c_str()); },
         nullptr, true, false},
        {"offer layout not a layout",
         [&](const std::string& f) { escribirFichero(f + diseno, "<glade-interface>"); }, nullptr,
         true, false},
        {"root container renamed",
         [&](const std::string& f) {
             reemplazarEnFichero(f + diseno, "id=\"vboxRelease\"", "id=\"vboxOtro\"");
         },
         nullptr, false, false},
        {"update button renamed",
         [&](const std::string& f) {
             reemplazarEnFichero(f + diseno, "id=\"updateBotonT\"", "id=\"updateOtro\"");
         },
         nullptr, false, false},
        {"notes view renamed",
         [&](const std::string& f) {
             reemplazarEnFichero(f + diseno, "id=\"notesVersionT\"", "id=\"notesOtro\"");
         },
         nullptr, false, true},
        // The panel is whole without its logo: its buttons still answer.
        {"logo and window icon missing",
         [](const std::string& f) { std::remove((f + "/src/Iconos/logoTarsenvik.png").c_str()); },
         "alt+l", false, true},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        ServidorPruebas::vaciarVersiones();
        publicar(versionOfrecida);
        LauncherEnPruebas launcher;
        caso.danar(launcher.instalacion());
        launcher.arrancar({"z"});

        const unsigned long ventana = ventanaOFin(launcher);

        ASSERT_EQ(ventana != 0, caso.ofrecida) << "stderr:\n" << launcher.errores();
        const std::string ajustesArranque = leerFichero(launcher.ficheroAjustes());
        if (ventana != 0 && caso.teclas != nullptr)
            LauncherEnPruebas::pulsar(ventana, caso.teclas);
        else if (ventana != 0)
            LauncherEnPruebas::cerrarDesdeTitulo(ventana);
        ASSERT_TRUE(launcher.esperarFin(finMaximo));
        EXPECT_EQ(launcher.estadoSalida(), 0) << "stderr:\n" << launcher.errores();
        const auto arranques = launcher.arranquesAplicacion();
        ASSERT_EQ(arranques.size(), 1u);
        EXPECT_EQ(arranques[0], (std::vector<std::string>{launcher.binario(), "z"}));
        EXPECT_EQ(leerFichero(launcher.ficheroAjustes()), ajustesArranque);
        if (caso.cargaFallida) {
            EXPECT_NE(launcher.errores().find("Failed to load glade file `" + launcher.instalacion()
                                              + diseno + "'"),
                      std::string::npos)
                << "stderr:\n" << launcher.errores();
        }
    }
}
