// The hand-over, with the real launcher binary in a scratch installation and
// the real release database: when nothing is offered the application starts at
// once, with the launcher's own argument vector less what the toolkit took.
#include "support/EntornoPruebas.h"
#include "support/LauncherEnPruebas.h"
#include "support/ServidorPruebas.h"

#include <ConfiguracionCompilacion.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

using namespace EntornoPruebas;

namespace {

const char* const tituloVentana = "Tarsenvik Updater";
const auto finMaximo = std::chrono::seconds(15);

// The settings file a first start writes: release 2, then the default address,
// NUL-terminated and zero-padded to 156 bytes.
std::string ajustesIniciales()
{
    std::string imagen(156, '\0');
    imagen[0] = 2;
    const std::string direccion = std::string("http://")
                                  + ConfiguracionCompilacion::servidorActualizaciones
                                  + ":8080/dbMorvane4/updateTarsenvik";
    imagen.replace(4, direccion.size(), direccion);
    return imagen;
}

// Waits for the launcher's end, looking for its window all the while.
bool terminaSinVentana(LauncherEnPruebas& launcher, bool& vistaVentana)
{
    vistaVentana = false;
    const bool termino = esperar(
        [&] {
            if (LauncherEnPruebas::hayVentana(tituloVentana))
                vistaVentana = true;
            return !launcher.enMarcha();
        },
        finMaximo);
    if (!termino)
        launcher.esperarFin(std::chrono::milliseconds(0));
    return termino;
}

} // namespace

class TraspasoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ServidorPruebas::vaciarVersiones();
    }
};

TEST_F(TraspasoTest, LaAplicacionRecibeLosArgumentosMenosLosDelToolkit)
{
    struct Caso {
        const char* nombre;
        std::vector<std::string> argumentos;
        std::vector<std::string> recibidos;  // after the program name
    };
    const Caso casos[] = {
        {"spaces and a toolkit flag", {"a", "b c", "--sync", "d"}, {"a", "b c", "d"}},
        {"no arguments", {}, {}},
        {"toolkit options with values", {"--name", "x", "--class=y", "e"}, {"e"}},
        {"empty, unknown options and UTF-8",
         {"", "-x", "--unknown=1", "\xc3\xb1 \xc3\xbc"},
         {"", "-x", "--unknown=1", "\xc3\xb1 \xc3\xbc"}},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        LauncherEnPruebas launcher;
        launcher.arrancar(caso.argumentos);
        ASSERT_TRUE(launcher.esperarFin(finMaximo)) << "nothing is offered: it must not wait";
        EXPECT_EQ(launcher.estadoSalida(), 0);
        std::vector<std::string> esperado{launcher.binario()};
        esperado.insert(esperado.end(), caso.recibidos.begin(), caso.recibidos.end());
        const auto arranques = launcher.arranquesAplicacion();
        ASSERT_EQ(arranques.size(), 1u);
        EXPECT_EQ(arranques[0], esperado);
    }
}

TEST_F(TraspasoTest, SinAplicacionEnNingunSitioTerminaConCeroYSinDecirNada)
{
    ASSERT_FALSE(existe("/usr/bin/tarsenvik.exe"));
    ASSERT_FALSE(existe("/bin/tarsenvik.exe"));
    struct Caso {
        const char* nombre;
        int version;  // 0: empty release table
    };
    const Caso casos[] = {{"empty release table", 0}, {"only the floor release", 305062}};
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        ServidorPruebas::vaciarVersiones();
        if (caso.version != 0)
            ServidorPruebas::insertarVersion(caso.version, "win32", "notes",
                                             ServidorPruebas::urlBase());
        LauncherEnPruebas launcher(false);
        launcher.arrancar({"a", "--sync"});
        ASSERT_TRUE(launcher.esperarFin(finMaximo));
        EXPECT_EQ(launcher.estadoSalida(), 0);
        EXPECT_EQ(launcher.salida(), "");
        EXPECT_EQ(launcher.errores(), "");
        EXPECT_TRUE(launcher.arranquesAplicacion().empty());
    }
}

TEST_F(TraspasoTest, SinOfertaNoSeMuestraNingunaVentana)
{
    ServidorPruebas::insertarVersion(305062, "win32", "not newer", ServidorPruebas::urlBase());
    LauncherEnPruebas launcher;
    launcher.arrancar({"x"});
    bool vistaVentana = true;
    ASSERT_TRUE(terminaSinVentana(launcher, vistaVentana));
    EXPECT_FALSE(vistaVentana);
    EXPECT_FALSE(LauncherEnPruebas::hayVentana(tituloVentana));
    EXPECT_EQ(launcher.estadoSalida(), 0);
    EXPECT_EQ(launcher.arranquesAplicacion().size(), 1u);
}

TEST_F(TraspasoTest, ElPrimerArranqueCreaLasCarpetasYLosAjustes)
{
    struct Caso {
        const char* nombre;
        int version;  // newest release in the table, 0: none
        bool ofrecida;
    };
    const Caso casos[] = {
        {"nothing in the table", 0, false},
        {"release offered", 305063, true},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        ServidorPruebas::vaciarVersiones();
        if (caso.version != 0)
            ServidorPruebas::insertarVersion(caso.version, "win32", "notes",
                                             ServidorPruebas::urlBase());
        LauncherEnPruebas launcher;
        ASSERT_FALSE(existe(launcher.carpetaAjustes()));
        ASSERT_FALSE(existe(launcher.carpetaCache()));
        launcher.arrancar();
        unsigned long ventana = 0;
        if (caso.ofrecida) {
            // Start-up is over once the window shows.
            ventana = launcher.esperarVentana(tituloVentana);
            ASSERT_NE(ventana, 0ul);
        } else {
            ASSERT_TRUE(launcher.esperarFin(finMaximo));
        }
        EXPECT_TRUE(std::filesystem::is_directory(launcher.carpetaAjustes()));
        EXPECT_TRUE(std::filesystem::is_directory(launcher.carpetaCache()));
        EXPECT_EQ(leerFichero(launcher.ficheroAjustes()), ajustesIniciales());
        EXPECT_EQ(listarFicheros(launcher.configuracion()),
                  std::vector<std::string>{"tarsenviklauncher/datosVersion1.dat"});
        if (caso.ofrecida) {
            LauncherEnPruebas::cerrarDesdeTitulo(ventana);
            ASSERT_TRUE(launcher.esperarFin(finMaximo));
        }
        EXPECT_EQ(launcher.estadoSalida(), 0);
        EXPECT_EQ(launcher.arranquesAplicacion().size(), 1u);
    }
}
